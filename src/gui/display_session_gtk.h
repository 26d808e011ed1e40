// The toolkit's description of the display session, for the graphics branch.
#pragma once

namespace gui {

// Lets the graphics collector ask the toolkit about the session's monitors; call once the
// toolkit is initialised.
void register_display_session();
// Describes the session now and answers every later question with that description until
// register_display_session() is called again: a collection on another thread than the
// toolkit's may not ask the toolkit.
void hold_display_session();

} // namespace gui
