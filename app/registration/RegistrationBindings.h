#pragma once
// The command bindings of the registration room (RegistrationBindings.cpp).

// Binds the view command "Save Alignment (*.vtf)", which writes the active layer's alignment as a
// transform file; the library's command bindings do it when the program starts,
// TW_RemoveRegistrationServices takes it away again (the row is then not available).
void TW_InstallRegistrationServices();
void TW_RemoveRegistrationServices();
