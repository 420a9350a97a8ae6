#pragma once
// The WinZip command line: RunWinZip adds the files matching a Dir pattern to a zip file. No WinZip
// program stands behind it here: the packer of zip_packer.h does the work before RunWinZip returns,
// so the caller knows the archive is finished, or why it is not, when the call returns and has
// nothing left to wait for.

#include <QString>

namespace lf::workfiles {

// pattern: a Windows-style Dir pattern such as "C:\work\*.*"; zipFile: a Windows-style path such as
// "C:\work\Course.zip". The archive is never added to itself when it lies in the folder it packs.
// Returns "" when the archive was written. A failure (the pattern's folder missing, no files, a file
// that cannot be read, a full disk) leaves an existing archive as it was and no new one, and is
// returned in words that name the file and the reason, for the caller's failure line.
QString RunWinZip(const QString& pattern, const QString& zipFile);

} // namespace lf::workfiles
