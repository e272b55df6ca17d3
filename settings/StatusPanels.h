#pragma once

#include <array>
#include <functional>
#include <string>

// The five text panels of the main window's status bar, kept outside the widgets so that the
// core (alarm actions, dialogs' decisions) can write them and tests can read them. Panel numbers
// are 1..5 as the user sees them: 1 alarm state and progress, 2 last alarm, 3 resolution,
// 4 warning sound, 5 mail account not set up. The main window listens and mirrors every change
// into its QStatusBar at once. `main()` makes the one set and hands it down with the other
// services. User-interface thread only.
class StatusPanels {
public:
    void setText(int panel, const std::string& text);
    std::string text(int panel) const;
    void setVisible(int panel, bool visible);
    bool visible(int panel) const;

    // Called after every change with the panel number. One listener (the main window); pass an
    // empty function to detach.
    void setListener(std::function<void(int panel)> listener);

    // Back to five empty, visible panels (tests).
    void reset();

private:
    std::array<std::string, 5> m_texts;
    std::array<bool, 5> m_visible{true, true, true, true, true};
    std::function<void(int)> m_listener;
};
