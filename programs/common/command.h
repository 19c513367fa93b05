// command.h: the capture tool and the viewer run as an installed package's
// commands.
//
// A package's command (packaging/skyward-capture.sh, skyward-view.sh) runs
// the program from wherever the user is, with two variables set:
//   SKYWARD_COMMAND    the command's name, which the program says in its help
//                      and its messages instead of its own;
//   SKYWARD_ASSET_DIR  the folder of the film's asset files, which the program
//                      enters once it has made the paths it was given
//                      absolute, so that they name what they named where the
//                      user was.
// Without them (a build folder) nothing changes.
#pragma once

#include <string>
#include <vector>

// Seconds of a steady clock, for measuring how long something took.
double steady_seconds();

// SKYWARD_COMMAND when set and not empty, else `program`.
const char* command_name(const char* program);

// The start of the capture tool's and the viewer's main: the standard streams
// open, the arguments in UTF-8 (on Windows, from the wide command line) and
// *name set to command_name(*name). False when the streams cannot be opened.
bool command_begin(int* argc, char*** argv, const char** name);

// `text` with every `program` replaced by command_name(program).
std::string command_text(const std::string& text, const char* program);

// The help's sentence on where the program reads the film's asset files,
// ending in a newline.
std::string asset_folder_text();

// When SKYWARD_ASSET_DIR is set: makes every relative path in `paths` absolute
// against the working folder (empty ones stay empty), then enters the asset
// folder. Without it nothing changes. False, with one line on stderr naming
// `program`, when the working folder or the asset folder cannot be used.
bool enter_asset_folder(const char* program, const std::vector<std::string*>& paths);
