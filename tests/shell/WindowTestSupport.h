#pragma once

#include <QString>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "AppOptions.h"
#include "TFCOMM.h"

// A main window made from command-line words, as the program would make it.
inline std::unique_ptr<TFCOMM> makeWindow(const std::vector<std::string>& args = {}) {
    const OptionsResult r = parseOptions(args);
    if (!r.error.empty()) qFatal("%s", r.error.c_str());
    return std::make_unique<TFCOMM>(r.options);
}

// Whether the named control is shown (not hidden by the program; the window itself may be unshown).
inline bool shown(TFCOMM& w, const char* name) {
    auto* widget = w.findChild<QWidget*>(QString::fromLatin1(name));
    if (!widget) qFatal("no widget %s", name);
    return !widget->isHidden();
}
