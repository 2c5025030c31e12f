#pragma once

#include <QMainWindow>

namespace Ui {
class AboutWindow;
}

// Shows the program's name, version and the change log lying beside the executable.
class AboutWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit AboutWindow(QWidget* parent = nullptr);
    ~AboutWindow() override;

    void setVersion(const QString& version);

private slots:
    void on_btnClose_clicked();

private:
    Ui::AboutWindow* m_ui = nullptr;
};
