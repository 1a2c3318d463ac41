#include "download/url_replace_dialog.h"

#include "download/url_replace.h"
#include "tools/prompter.h"
#include "tools/text_utils.h"
#include "tools/window_helpers.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

UrlReplace::UrlReplace(TaskListModel& tasks, Prompter* prompter, QWidget* parent)
    : QDialog(parent)
    , tasks_(tasks)
    , prompter_(*prompter) {
    setObjectName(QStringLiteral("UrlReplace"));
    setWindowTitle(WindowCaption(QStringLiteral("网址批量替换")));
    setModal(true);
    auto* label1 = new QLabel(QStringLiteral("所有网址中的字符串："), this);
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    auto* label2 = new QLabel(QStringLiteral("将被全部替换为字符串："), this);
    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text1->setMinimumWidth(360);
    Command1 = new QPushButton(QStringLiteral("替换"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2 = new QPushButton(QStringLiteral("取消"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(label1, 0, 0);
    grid->addWidget(Text1, 1, 0);
    grid->addWidget(label2, 2, 0);
    grid->addWidget(Text2, 3, 0);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    grid->addLayout(buttons, 4, 0);
    connect(Command1, &QPushButton::clicked, this, &UrlReplace::Replace);
    connect(Command2, &QPushButton::clicked, this, &QDialog::reject);
}

void UrlReplace::Replace() {
    const QString find = Text1->text();
    if (TrimSpaces(find).isEmpty()) {
        prompter_.message(QStringLiteral("请输入字符串！"), Prompter::Icon::Critical);
        return;
    }
    // Two tasks with one address would break the list's keys: then nothing changes.
    if (const auto clash = ReplaceInAllUrls(tasks_, find, Text2->text())) {
        prompter_.message(QStringLiteral("替换后会有重复的网址，未做任何替换：\n") + *clash,
                          Prompter::Icon::Critical);
        return;
    }
    accept();
    prompter_.message(QStringLiteral("全部网址替换完成！"), Prompter::Icon::Information);
}
