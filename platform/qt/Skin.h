// The program's one built-in skin: a dark look with an amber accent, kept small enough for the
// 327-pixel window. Applied once to the whole application.
#pragma once

#include <QString>

class QApplication;

namespace korvanta::platform::qt {

// Dynamic property that picks a look for a plain widget: "panel" for the window's client panel,
// "fact" for labels whose text comes from an update run (shown brighter than fixed captions).
inline constexpr char kSkinRole[] = "skinRole";

// The style sheet of the skin; it needs no file at run time.
QString BuiltInSkin();

// The Fusion style, a matching dark palette (message boxes included) and the style sheet.
void ApplySkin(QApplication& app);

}  // namespace korvanta::platform::qt
