#include "tests/support/dialoganswerer.h"

#include <QtWidgets>

DialogAnswerer::DialogAnswerer()
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &DialogAnswerer::poll);
    m_timer.start();
}

// Queues an answer for a dialog of the expected kind; any other kind is escaped.
template <typename Dialog, typename Act> void DialogAnswerer::expect(Act act)
{
    m_answers.append([act](QWidget* modal) {
        if (auto* dialog = qobject_cast<Dialog*>(modal))
            act(dialog);
        else
            pressEscapeButton(modal);
    });
}

void DialogAnswerer::pressButton(QMessageBox::StandardButton button)
{
    expect<QMessageBox>([button](QMessageBox* box) {
        if (box->button(button))
            box->button(button)->click();
        else
            pressEscapeButton(box);
    });
}

void DialogAnswerer::enterText(const QString& text, bool accept)
{
    expect<QInputDialog>([text, accept](QInputDialog* dialog) {
        dialog->setTextValue(text);
        accept ? dialog->accept() : dialog->reject();
    });
}

void DialogAnswerer::chooseFile(const QString& path, bool accept)
{
    expect<QFileDialog>([path, accept](QFileDialog* dialog) {
        if (!accept)
            return dialog->reject();
        // Typed into the name field rather than selected: selectFile() can come to nothing while the
        // dialog's file model is still loading the folder.
        const QFileInfo info(path);
        dialog->setDirectory(info.absolutePath());
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(info.fileName());
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides accept() behind protected
    });
}

void DialogAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || m_answering.contains(modal))
        return;
    m_records.append(describe(modal));
    const Answer answer = m_answers.isEmpty() ? Answer(&DialogAnswerer::pressEscapeButton) : m_answers.takeFirst();
    // Answered from the event loop, not from this timer slot: an answer may open a further modal dialog
    // (a file dialog asking before it replaces a file), and this timer does not fire again while its slot runs.
    m_answering.append(modal);
    QPointer<QWidget> target(modal);
    QTimer::singleShot(0, this, [this, target, answer] {
        if (target)
            answer(target);
        m_answering.removeAll(target);
        m_answering.removeAll(nullptr);
    });
}

DialogRecord DialogAnswerer::describe(QWidget* modal)
{
    DialogRecord record;
    record.title = modal->windowTitle();
    record.hasWindowIcon = !modal->windowIcon().isNull();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        record.text = box->text();
        record.informativeText = box->informativeText();
        record.icon = box->icon();
        record.buttons = box->standardButtons();
        if (box->defaultButton())
            record.defaultButton = box->standardButton(box->defaultButton());
    } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
        record.text = input->labelText();
    }
    return record;
}

void DialogAnswerer::pressEscapeButton(QWidget* modal)
{
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        QAbstractButton* button = box->escapeButton();
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        if (button) {
            button->click();
            return;
        }
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

void DialogAnswerer::closeLeftoverModals()
{
    for (int guard = 0; guard < 10; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        pressEscapeButton(modal);
        QApplication::processEvents();
    }
}
