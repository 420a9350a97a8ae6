#pragma once
// The WinZip command line: RunWinZip adds the files matching a Dir pattern to a zip file. No WinZip
// program stands behind it here: the packer of zip_packer.h does the work, at once, before RunWinZip
// returns, so the callers' own waits (the zip operation's pause, the "WinZip Done?" box) only wait
// on a finished archive.

#include <QString>

namespace lf::workfiles {

// pattern: a Windows-style Dir pattern such as "C:\work\*.*"; zipFile: a Windows-style path such as
// "C:\work\Course.zip". The archive is never added to itself when it lies in the folder it packs.
// A failure (the pattern's folder missing, a file that cannot be read, a full disk) is logged under
// "Zip" with the file and the reason, and leaves an existing archive as it was. True when the archive
// was written.
bool RunWinZip(const QString& pattern, const QString& zipFile);

} // namespace lf::workfiles
