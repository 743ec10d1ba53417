// Replacing a file whole or not at all: the one routine every settings writer
// (the settings file, the layout file, the registry files, the desktop's files)
// goes through.
//
// The content goes to a new temporary file beside the target (mkstemp, so two
// writers never share one), is flushed to the disk (fsync), gets its mode, and is
// renamed over the target; then the folder is synced so the rename itself
// survives a crash. A reader sees the old file or the new one, never a part of
// either. When any step fails the temporary is removed and the old file stays as
// it was.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace qb {

// Writes content to path as described above; the folder must exist. Returns the
// failure, or an empty error code. A symbolic link at path is replaced by the file,
// not followed. A failing sync of the folder (some file systems refuse it) is not
// reported: the new file is in place by then.
std::error_code WriteFileAtomically(const std::string& path, std::string_view content, unsigned mode = 0644);

// The same, for a writer whose failures are errors: throws EInOutError
// ("Could not write the <what> "<path>": <reason>").
void WriteFileAtomicallyOrThrow(const std::string& path, std::string_view content, std::string_view what,
                                unsigned mode = 0644);

}  // namespace qb
