#pragma once

#include <QFont>
#include <QStringList>

// The Japanese system fonts that stand in for the proportional and fixed Gothic faces the
// layout was drawn with; fontconfig falls back to the next family when one is missing.
inline QFont JapaneseFont(qreal pointSize, bool bold = false, bool proportional = true) {
    QFont font;
    font.setFamilies(proportional ? QStringList{"IPAPGothic", "Noto Sans CJK JP", "IPAGothic"}
                                  : QStringList{"IPAGothic", "Noto Sans Mono CJK JP"});
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// Twips of the layout to pixels (15 twips a pixel).
constexpr int Tw(int twips) {
    return twips / 15;
}
