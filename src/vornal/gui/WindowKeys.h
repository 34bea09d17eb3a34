#pragma once

// The window's tables of bundle keys that more than one part of the window uses.
namespace vornal::windowkeys {

// The tab titles and mnemonic keys in tab order.
struct TabDef {
    const char* title;
    const char* mnemonic;
};
extern const TabDef kTabs[7];

// The controls with a tool tip that show no setting (those that do are in the settings table).
constexpr int kButtonToolTipCount = 8;
extern const char* const kButtonToolTips[kButtonToolTipCount];

} // namespace vornal::windowkeys
