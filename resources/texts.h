// The system's own texts: the messages, captions, titles and menu entries the player shows.
// They are CP932 bytes at run time, as on Japanese Windows; texts.cpp holds them all.
#ifndef TORVANE_RESOURCES_TEXTS_H
#define TORVANE_RESOURCES_TEXTS_H

extern const char captionError[];           // caption of every error message box
extern const char captionEnd[];             // caption of the end-of-script message box
extern const char textScriptEnded[];        // script_end's message
extern const char textNotNumeric[];         // a checked argument that is not a number
extern const char formatMissingArgument[];  // sprintf format: command, line number, script path
extern const char formatScriptTooLong[];    // sprintf format: the line limit, script path
extern const char textStopFailed[];         // the running script did not stop for an Open
extern const char textLoadFailedSuffix[];   // follows the image name of a bitmap that failed
extern const char textSurfaceFailed[];      // the virtual screen could not be made
extern const char formatScriptCannotOpen[];  // sprintf format: a script named on the command line
extern const char windowClassName[];        // the main window's class
extern const char windowTitle[];            // the main window's start-up title
extern const char menuResourceName[];       // the class's menu resource
extern const char openDialogTitle[];        // title of the Open dialog
extern const char openDialogFilter[];       // filter pairs of the Open dialog, double-zero ended
extern const char openDialogDefaultExtension[];
extern const char menuTextFile[];           // the menu bar's popup
extern const char menuTextOpen[];           // File > Open
extern const char menuTextExit[];           // File > Exit

// Every text above with its UTF-8 spelling, so that a test can check the bytes.
struct SystemText {
  const char* name;   // the variable's name
  const char* bytes;  // the CP932 bytes the player uses
  int length;         // number of bytes, the terminating zero not counted
  const char* utf8;   // the same text in UTF-8
};
extern const SystemText systemTexts[];
extern const int systemTextCount;

#endif
