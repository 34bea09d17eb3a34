#pragma once

// Key injection through the desktop portal (org.freedesktop.portal.RemoteDesktop over D-Bus): the route
// GNOME (mutter) and KDE (KWin) offer ordinary programs on Wayland. Opening asks the user once (the
// desktop shows its own question); the session is kept for the program's run and serves every later
// opening until the desktop ends it. Where the portal hands
// out a restore token it is stored, so that the question is not repeated on the next start. Characters
// are sent as keysyms; the desktop finds the keys for them on its layout. Uses QtDBus.

#include "../KeyInjector.h"

namespace vornal::platform {

// Returns null with the reason when there is no session bus or portal, the portal offers no keyboard,
// or the user refused. Keys sent after the desktop closed the session fail with KeyInjectorLost.
std::unique_ptr<KeyInjector> openPortalInjector(const CharChords& layout, std::string* whyNot);

} // namespace vornal::platform
