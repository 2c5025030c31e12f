#include <QtTest>
// Placeholder until the suite for this area is written.
class Placeholder : public QObject { Q_OBJECT private slots: void nothingYet() { QSKIP("no tests yet"); } };
QTEST_MAIN(Placeholder)
#include "tst_websocket.moc"
