#pragma once
// Registration, transform-file and layer-comparison operations of the layer sets, and the services
// the registration engine supplies to the rest of the program.

// Installs the registration services other modules call through hooks (the transform-file writer
// of "Save Alignment (*.vtf)"); the library's command bindings install them when the program starts,
// TW_RemoveRegistrationServices takes them away again.
void TW_InstallRegistrationServices();
void TW_RemoveRegistrationServices();
