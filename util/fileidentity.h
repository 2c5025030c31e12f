#pragma once

#include <QString>

#include <sys/types.h>

// Which file a path names, whatever the path's form: the same file reached through a symbolic link, another
// spelling of its path ("./", "..") or a hard link has one identity. A file that does not exist yet is known by its
// folder's identity and its name, so two outputs not yet written can still be told to be one.
class FileIdentity
{
public:
    static FileIdentity of(const QString& path);

    bool operator==(const FileIdentity& other) const;
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }

private:
    bool m_known = false; // false: neither the file nor its folder could be looked at; equal to nothing
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QString m_name; // of a file that does not exist yet; empty for one that does
};
