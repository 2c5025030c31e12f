#pragma once

#include <QString>
#include <QStringList>
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

// Makes the maker, base, data and output folders that do not exist yet, each one level below the one before;
// gives the folders that could not be made, in that order (one that fails makes every one below it fail).
QStringList makeUserFolders();
// Makes the page folder of a run below the data folder; true when it is there.
bool makeRunFolder(quint32 runStamp);

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
