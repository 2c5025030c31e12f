#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class QLockFile;

// The run stamp of one running program. It names the run's page folder and every list the run writes, so no two
// runs on a home folder may share it: the stamp is claimed by creating its lock file (data/<stamp>.lock)
// exclusively, and the claim is held until this object goes. A stamp that a live run holds, or whose run folder
// is there (a run that died may have left pages in it), is taken; the claim then waits for the next second, so
// the stamp is always the second it was claimed in. A claim clears the run folders that earlier runs left behind.
class RunStampClaim
{
public:
    RunStampClaim();
    // The run folder goes too if it is empty, so that the stamp is free again; before the stamp's second has passed
    // it stays as a mark that the stamp is taken when something was named after it, and a later claim removes it.
    ~RunStampClaim();
    RunStampClaim(const RunStampClaim&) = delete;
    RunStampClaim& operator=(const RunStampClaim&) = delete;

    quint32 stamp() const { return m_stamp; }
    // Why no stamp could be claimed (the data folder missing or not writable); the stamp is then the current
    // second, held by nobody. Empty when the claim is held.
    QString failure() const { return m_failure; }

private:
    // Whether pages or a list of the run carry the stamp.
    bool named() const;

    quint32 m_stamp = 0;
    std::unique_ptr<QLockFile> m_lock;
    QString m_failure;
};
