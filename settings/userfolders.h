#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

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
// gives the folders that could not be made, in that order (one that fails makes every one below it fail). A
// folder another run makes at the same moment is there as well as one made here.
QStringList makeUserFolders();
// Makes the page folder of a run below the data folder; true when it is there.
bool makeRunFolder(quint32 runStamp);

// The hidden folder inside a run folder that an extraction moves the pages it reads into; QTemporaryDir puts
// random letters and digits for the X's.
inline const QString claimFolderTemplate = QStringLiteral(".extracting-XXXXXX");

// Removes the run folders that earlier runs left behind (closed mid-harvest, crashed): those of other runs
// that no running program holds (see RunStampClaim) and that hold nothing but page files, directly or in a claim folder
// that an extraction left. Empty ones are the marks of runs that ended within their stamp's second (see
// RunStampClaim); those of the current second stay.
void removeLeftoverRunFolders(quint32 ownRunStamp);

} // namespace UserFolders
