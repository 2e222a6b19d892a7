#pragma once
// The one place that answers where Quarvel keeps its working files
// (capture folder, recording, expanded movie copy, templates).

#include <filesystem>
#include <string_view>

namespace quarvel::paths {

// Folder of the running executable (from /proc/self/exe).
std::filesystem::path ExecutableFolder();

// The data folder of an installed program, `<prefix>/share/quarvel` beside
// its `<prefix>/bin`; empty when the program runs from a build or a copy.
std::filesystem::path InstalledDataFolder();

// The working folder: QUARVEL_HOME if set, else the override given to
// SetWorkingFolder, else the executable's folder when writable and the
// program is not installed, else $XDG_DATA_HOME/quarvel (default
// ~/.local/share/quarvel). Not created here.
std::filesystem::path WorkingFolder();

// Front ends call this for --work-dir; an empty path clears the override.
void SetWorkingFolder(const std::filesystem::path& folder);

// WorkingFolder() / relative.
std::filesystem::path WorkPath(std::string_view relative);

// The capture folder "temp/" inside the working folder.
std::filesystem::path CaptureFolder();

// "temp/" + n + ".bmp".
std::filesystem::path FrameFilePath(long long n);

// "temp/" + n + ".jpg" (pictures the browser shows when present).
std::filesystem::path FramePicturePath(long long n);

// "temp/_temp.wav".
std::filesystem::path RecordingFilePath();

// A data file shipped with the program ("adpcm1.wav", "temp.swf"...): the
// working folder's copy when there is one, else the one beside the
// executable, else the installed data folder's.
std::filesystem::path DataFilePath(std::string_view name);

}  // namespace quarvel::paths
