#pragma once

// Writes a file so that the stored copy is never lost: the new contents go to
// a temporary file beside it, which takes the file's place only after every
// byte was written and flushed. Until then, and after any failure, the old
// file stays whole. Failures raise FileError with the file layer's number.
//
// Where the folder refuses a new file but the file itself may be written (a
// shared install, a folder of another user's), there is no place for a
// temporary file: the new contents are then held in memory and written over
// the old ones in place, in one go at commit.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <sys/types.h>

// True when this process may create files in the folder `dir`. The superuser
// passes every permission check of the kernel, so for it the mode bits decide:
// a folder nobody may write stays unwritten.
bool mayWriteFolder(const QString& dir);

// Whose files a save may write. A save never writes through a link of
// another user, or to a file of another user that a link leads to, and never
// creates a file where a link leads nowhere: in a folder others may write,
// that would let them aim the save at any file of ours.
struct WriteRules
{
    // A link is followed when it, every link after it and the file they lead
    // to are the user's own; without this, a link is not written through.
    bool followLinks = true;
    // An existing file of another user is written where its mode lets us (a
    // shared install); without this, it is left alone.
    bool othersFiles = true;
};

// Removes what saves of `path` that were cut short (a crash, a power cut) left
// beside it: the temporary files of ReplacingFile's own naming, ".<name>.<x>".
void removeLeftoverTemporaryFiles(const QString& path);

class ReplacingFile
{
public:
    // Prepares to replace `path`. A file that does not exist yet is created
    // with `newFileMode` (less the umask); an existing one keeps its mode and,
    // where we may set it, its owner. An existing file without write
    // permission for us is refused (access denied) even where the kernel would
    // let us replace it, as a read-only file is a request not to change it.
    // What `rules` refuse raises FileRefused, which names the file.
    ReplacingFile(const QString& path, mode_t newFileMode, WriteRules rules = {});
    ~ReplacingFile();

    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    void write(QByteArrayView bytes);

    // Flushes, syncs and puts the new file in place of the old one.
    void commit();

private:
    void flush();
    [[noreturn]] void fail(int posixErrno);
    void discard();

    QByteArray targetPath_;
    QByteArray tempPath_;
    int fd_ = -1;
    QByteArray buffer_;
    bool inPlace_ = false;
    bool committed_ = false;
};
