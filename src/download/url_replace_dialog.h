#pragma once

#include <QDialog>

class Prompter;
class QLabel;
class QLineEdit;
class QPushButton;
class TaskListModel;

// "网址批量替换": replaces a text in every task's address and referer.
class UrlReplace : public QDialog {
    Q_OBJECT

public:
    UrlReplace(TaskListModel& tasks, Prompter* prompter, QWidget* parent = nullptr);

    QLineEdit* Text1;      // find
    QLineEdit* Text2;      // replace with
    QPushButton* Command1; // "替换"
    QPushButton* Command2; // "取消"

    void Replace();

private:
    TaskListModel& tasks_;
    Prompter& prompter_;
};
