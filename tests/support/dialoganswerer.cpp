#include "tests/support/dialoganswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QPushButton>

DialogAnswerer::DialogAnswerer()
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &DialogAnswerer::poll);
    m_timer.start();
}

void DialogAnswerer::pressButton(QMessageBox::StandardButton button)
{
    m_answers.append([button](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box && box->button(button))
            box->button(button)->click();
        else
            pressEscapeButton(modal);
    });
}

void DialogAnswerer::enterText(const QString& text, bool accept)
{
    m_answers.append([text, accept](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        if (!dialog) {
            pressEscapeButton(modal);
            return;
        }
        dialog->setTextValue(text);
        accept ? dialog->accept() : dialog->reject();
    });
}

void DialogAnswerer::chooseFile(const QString& path, bool accept)
{
    m_answers.append([path, accept](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            pressEscapeButton(modal);
            return;
        }
        if (accept) {
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides accept() behind protected
        } else {
            dialog->reject();
        }
    });
}

void DialogAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    m_records.append(describe(modal));
    if (m_answers.isEmpty())
        pressEscapeButton(modal);
    else
        m_answers.takeFirst()(modal);
}

DialogRecord DialogAnswerer::describe(QWidget* modal)
{
    DialogRecord record;
    record.className = QString::fromLatin1(modal->metaObject()->className());
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
