// The toolkit's description of the display session, for the graphics branch.
#pragma once

namespace gui {

// Lets the graphics collector ask the toolkit about the session's monitors; call once the
// toolkit is initialised.
void register_display_session();

} // namespace gui
