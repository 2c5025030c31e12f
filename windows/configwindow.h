#pragma once

#include <QMainWindow>

namespace Ui {
class configwindow;
}

class CConfig;

// Lets the user pick the fetch time-out and the link depth and type the output line template.
// Edits the in-memory settings only; they reach the disk at the program's exit.
class ConfigWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit ConfigWindow(QWidget* parent = nullptr);
    ~ConfigWindow() override;

    void setConfig(CConfig* config);

private slots:
    void on_btnClose_clicked();

private:
    Ui::configwindow* m_ui = nullptr;
    CConfig* m_config = nullptr;
};
