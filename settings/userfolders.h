#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>

class QLockFile;

// Where the program keeps its per-user files, all below the home folder. Read the home folder at each call,
// so that a changed HOME (as in the tests) is honoured.
namespace UserFolders {

QString makerFolder();               // ~/.tarnix
QString baseFolder();                // ~/.tarnix/sievra
QString dataFolder();                // ~/.tarnix/sievra/data, the page store
QString outputFolder();              // ~/.tarnix/sievra/output, the output lists
QString configFile();                // ~/.tarnix/sievra/config.xml
QString runFolder(quint32 runStamp); // ~/.tarnix/sievra/data/<runStamp>, the pages of one program run

// The hidden folder inside a run folder that an extraction moves the pages it reads into; QTemporaryDir puts
// random letters and digits for the X's.
inline const QString claimFolderTemplate = QStringLiteral(".extracting-XXXXXX");

// Marks a run folder as in use by this program for as long as the lock lives (data/<runStamp>.lock); null
// when the lock cannot be had. Take it before the folder is made, so no other start finds it unheld.
std::unique_ptr<QLockFile> lockRunFolder(quint32 runStamp);

// Removes the run folders that earlier runs left behind (closed mid-harvest, crashed): those of other runs
// that no running program holds and that hold nothing but page files, directly or in a claim folder that an
// extraction left.
void removeLeftoverRunFolders(quint32 ownRunStamp);

} // namespace UserFolders
