#include "settings/StatusPanels.h"

void StatusPanels::setText(int panel, const std::string& text) {
    if (panel < 1 || panel > 5)
        return;
    m_texts[panel - 1] = text;
    if (m_listener)
        m_listener(panel);
}

std::string StatusPanels::text(int panel) const {
    return (panel < 1 || panel > 5) ? std::string() : m_texts[panel - 1];
}

void StatusPanels::setVisible(int panel, bool visible) {
    if (panel < 1 || panel > 5)
        return;
    m_visible[panel - 1] = visible;
    if (m_listener)
        m_listener(panel);
}

bool StatusPanels::visible(int panel) const {
    return panel >= 1 && panel <= 5 && m_visible[panel - 1];
}

void StatusPanels::setListener(std::function<void(int)> listener) {
    m_listener = std::move(listener);
}

void StatusPanels::reset() {
    m_texts = {};
    m_visible = {true, true, true, true, true};
}
