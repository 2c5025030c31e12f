#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>

// What a modal dialog showed when it was answered.
struct DialogRecord
{
    QString title;
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    bool hasWindowIcon = false;
};

// Watches for modal dialogs while a test drives the program, records what each showed and answers it with the
// next queued answer, or else with the box's escape button (rejecting any other dialog).
class DialogAnswerer : public QObject
{
    Q_OBJECT

public:
    using Answer = std::function<void(QWidget*)>;

    DialogAnswerer();

    // Press this button of the next message box.
    void pressButton(QMessageBox::StandardButton button);
    // Type the text into the next input dialog and accept it, or cancel it.
    void enterText(const QString& text, bool accept = true);
    // Choose this file in the next file dialog and accept it, or cancel it.
    void chooseFile(const QString& path, bool accept = true);

    QList<DialogRecord> records() const { return m_records; }
    qsizetype count() const { return m_records.size(); }
    DialogRecord last() const { return m_records.isEmpty() ? DialogRecord() : m_records.last(); }
    void clear() { m_records.clear(); }

    // Closes any modal widget still open; call from cleanup() so one test's leftover cannot block the next.
    static void closeLeftoverModals();

private slots:
    void poll();

private:
    template <typename Dialog, typename Act> void expect(Act act);
    static DialogRecord describe(QWidget* modal);
    static void pressEscapeButton(QWidget* modal);

    QTimer m_timer;
    QList<Answer> m_answers;
    QList<DialogRecord> m_records;
    QList<QPointer<QWidget>> m_answering;
};
