#ifndef STYLESHEETLOADER_H
#define STYLESHEETLOADER_H

// Applies "../mainqss/main.qss", relative to the working directory, as the application-wide
// style sheet. A missing or unreadable file is not an error: the widgets' own sheets remain.
void loadGlobalStyleSheet();

#endif // STYLESHEETLOADER_H
