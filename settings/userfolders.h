#pragma once

#include <QString>
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

} // namespace UserFolders
