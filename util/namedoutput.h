#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

// A file the user named for a run to write, such as a report. It is written whole under a temporary name beside
// it and only then renamed into place, so an earlier file of that name stays as it was until the new one is whole,
// and a run that is refused, fails or ends before writing it leaves it untouched. Through a symbolic link the
// link's target is the file replaced, with its permissions kept.
class NamedOutput
{
public:
    explicit NamedOutput(const QString& path);

    const QString& path() const { return m_path; }
    // Creates the temporary file now, so a folder that is missing or cannot be written stops the run before it
    // starts; false with the reason.
    bool prepare(QString* failure);
    // Writes the text and puts the file in its place; false with the reason, the earlier file then left as it was.
    bool commit(const QByteArray& text, QString* failure);
    // A file prepared and never committed leaves nothing behind.

private:
    QString m_path;
    QSaveFile m_file;
};
