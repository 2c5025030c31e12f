#pragma once

#include <QString>
#include <QStringList>

// The pages one extraction reads, moved out of the fetchers' way when the extraction lists them: a harvest
// started meanwhile stores its pages under the same names, and the end of this extraction must neither
// remove those nor put its own back over them.
class ClaimedPages
{
public:
    // Moves the files among `listing` (the run folder's entries) into a hidden folder of their own inside the
    // run folder, which later listings leave out. An entry that cannot be moved is read where it is.
    ClaimedPages(const QString& runFolder, const QStringList& listing);

    // Where each entry of the listing is read from, in listing order ("." and ".." left out).
    QStringList paths() const { return m_paths; }

    // The proxies are safely written: the pages go.
    void remove();
    // The run ended without a complete output: the pages go back under their names, or, where a newer page
    // took a name meanwhile, under that name with a number behind it.
    void giveBack();

private:
    QString m_runFolder;
    QString m_claimFolder;
    QStringList m_names;
    QStringList m_paths;
    QList<bool> m_claimed;
};
