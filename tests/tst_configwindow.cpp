#include "settings/config.h"
#include "settings/configwindow.h"
#include "tests/support/testhome.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

class ConfigWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void choices_and_defaults();
    void setConfig_selectsStoredChoices_data();
    void setConfig_selectsStoredChoices();
    void save_storesIndexesAndUpperCaseTemplate_data();
    void save_storesIndexesAndUpperCaseTemplate();
    void closeWithoutSave_changesNothing();
    void save_withoutSelection_keepsStoredValue();

private:
    QComboBox* timeoutBox() const { return m_window->findChild<QComboBox*>(QStringLiteral("cbLeechTimeout")); }
    QComboBox* depthBox() const { return m_window->findChild<QComboBox*>(QStringLiteral("cbLeechDepth")); }
    QLineEdit* templateField() const { return m_window->findChild<QLineEdit*>(QStringLiteral("txtOutputFormat")); }
    void pressSave()
    {
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("btnClose")), Qt::LeftButton);
    }

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<CConfig> m_config;
    std::unique_ptr<ConfigWindow> m_window;
};

void ConfigWindowTest::init()
{
    m_home = std::make_unique<TestHome>();
    m_config = std::make_unique<CConfig>();
    m_window = std::make_unique<ConfigWindow>();
    m_window->setConfig(m_config.get());
}

void ConfigWindowTest::cleanup()
{
    m_window.reset();
    m_config.reset();
    m_home.reset();
}

void ConfigWindowTest::choices_and_defaults()
{
    QStringList timeouts, depths;
    for (int i = 0; i < timeoutBox()->count(); ++i)
        timeouts << timeoutBox()->itemText(i);
    for (int i = 0; i < depthBox()->count(); ++i)
        depths << depthBox()->itemText(i);
    QCOMPARE(timeouts, QStringList({"10 secs", "15 secs", "20 secs", "25 secs"}));
    QCOMPARE(depths, QStringList({"1 node", "2 nodes", "3 nodes", "4 nodes", "5 nodes"}));

    QCOMPARE(timeoutBox()->currentText(), QStringLiteral("20 secs"));
    QCOMPARE(depthBox()->currentText(), QStringLiteral("1 node"));
    QCOMPARE(templateField()->text(), QStringLiteral("A:P"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Configuration"));
    QCOMPARE(m_window->minimumSize(), QSize(268, 250));
    QCOMPARE(m_window->maximumSize(), QSize(268, 250));
    QCOMPARE(templateField()->toolTip(), QStringLiteral("A = Address; P = Port, B = Binary, C = Class"));
}

void ConfigWindowTest::setConfig_selectsStoredChoices_data()
{
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("timeoutIndex");
    QTest::addColumn<int>("depthIndex");
    QTest::newRow("ten seconds, one node") << 0 << 1 << 0 << 0;
    QTest::newRow("twenty-five seconds, five nodes") << 3 << 5 << 3 << 4;
    QTest::newRow("outside the choices") << 7 << 9 << -1 << -1;
    QTest::newRow("negative values") << -3 << -1 << -1 << -1;
    QTest::newRow("farthest values") << std::numeric_limits<int>::max() << std::numeric_limits<int>::min() << -1 << -1;
}

void ConfigWindowTest::setConfig_selectsStoredChoices()
{
    QFETCH(int, timeout);
    QFETCH(int, depth);
    QFETCH(int, timeoutIndex);
    QFETCH(int, depthIndex);
    m_config->setTimeout(timeout);
    m_config->setDepth(depth);
    m_config->setOutputFormat(QStringLiteral("C B"));
    ConfigWindow window;
    window.setConfig(m_config.get());
    QCOMPARE(window.findChild<QComboBox*>(QStringLiteral("cbLeechTimeout"))->currentIndex(), timeoutIndex);
    QCOMPARE(window.findChild<QComboBox*>(QStringLiteral("cbLeechDepth"))->currentIndex(), depthIndex);
    QCOMPARE(window.findChild<QLineEdit*>(QStringLiteral("txtOutputFormat"))->text(), QStringLiteral("C B"));
}

void ConfigWindowTest::save_storesIndexesAndUpperCaseTemplate_data()
{
    QTest::addColumn<int>("timeoutIndex");
    QTest::addColumn<int>("depthIndex");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("stored");
    QTest::newRow("10 secs, 5 nodes") << 0 << 4 << "A:P" << 0 << 5 << "A:P";
    QTest::newRow("lower case template") << 1 << 1 << "a:p c" << 1 << 2 << "A:P C";
    QTest::newRow("empty template") << 3 << 0 << "" << 3 << 1 << "";
    QTest::newRow("mixed text") << 2 << 2 << "Proxy\tt" << 2 << 3 << "PROXY\tT";
}

void ConfigWindowTest::save_storesIndexesAndUpperCaseTemplate()
{
    QFETCH(int, timeoutIndex);
    QFETCH(int, depthIndex);
    QFETCH(QString, typed);
    QFETCH(int, timeout);
    QFETCH(int, depth);
    QFETCH(QString, stored);
    m_window->show();
    timeoutBox()->setCurrentIndex(timeoutIndex);
    depthBox()->setCurrentIndex(depthIndex);
    templateField()->setText(typed);
    pressSave();

    QCOMPARE(m_config->timeout(), timeout);
    QCOMPARE(m_config->depth(), depth);
    QCOMPARE(m_config->outputFormat(), stored);
    QCOMPARE(templateField()->text(), stored);
    QVERIFY(!m_window->isVisible());
}

void ConfigWindowTest::closeWithoutSave_changesNothing()
{
    m_window->show();
    timeoutBox()->setCurrentIndex(0);
    depthBox()->setCurrentIndex(3);
    templateField()->setText(QStringLiteral("b"));
    m_window->close();
    QCOMPARE(m_config->timeout(), 2);
    QCOMPARE(m_config->depth(), 1);
    QCOMPARE(m_config->outputFormat(), QStringLiteral("A:P"));

    // Showing it again does not refill the fields: the unsaved entries are still there for a later Save.
    m_window->show();
    QCOMPARE(timeoutBox()->currentIndex(), 0);
    QCOMPARE(depthBox()->currentIndex(), 3);
    QCOMPARE(templateField()->text(), QStringLiteral("b"));
    pressSave();
    QCOMPARE(m_config->depth(), 4);
    QCOMPARE(m_config->outputFormat(), QStringLiteral("B"));
}

void ConfigWindowTest::save_withoutSelection_keepsStoredValue()
{
    m_config->setTimeout(9);
    m_config->setDepth(-2);
    ConfigWindow window;
    window.setConfig(m_config.get());
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("btnClose")), Qt::LeftButton);
    QCOMPARE(m_config->timeout(), 9);
    QCOMPARE(m_config->depth(), -2);
}

QTEST_MAIN(ConfigWindowTest)
#include "tst_configwindow.moc"
