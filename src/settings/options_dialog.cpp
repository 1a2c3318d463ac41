#include "settings/options_dialog.h"

#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "tools/text_utils.h"
#include "tools/widget_prompter.h"
#include "tools/window_helpers.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

fOption::fOption(SharedOptions& options, SettingsStore& store, Prompter* prompter, QWidget* parent)
    : QDialog(parent)
    , options_(options)
    , store_(store)
    , prompter_(prompter, this) {
    setObjectName(QStringLiteral("fOption"));
    setWindowTitle(WindowCaption(QStringLiteral("设置")));
    setModal(true);

    auto* methods = new QGroupBox(this);
    auto* label1 = new QLabel(QStringLiteral("下载方式："), methods);
    Option1 =
        new QRadioButton(QStringLiteral("下载方式一 (支持HTTP，单线程，代理服务器下载)"), methods);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2 = new QRadioButton(QStringLiteral("下载方式二 (支持HTTP，多线程下载)"), methods);
    Option2->setObjectName(QStringLiteral("Option2"));
    Check1 = new QCheckBox(QStringLiteral("下载使用代理服务器"), methods);
    Check1->setObjectName(QStringLiteral("Check1"));
    auto* label14 = new QLabel(QStringLiteral("地址："), methods);
    Text6 = new QLineEdit(methods);
    Text6->setObjectName(QStringLiteral("Text6"));
    auto* hint6 = new QLabel(QStringLiteral("(如：proxy.example.com 或者 192.168.0.1)"), methods);
    auto* label15 = new QLabel(QStringLiteral("端口："), methods);
    Text8 = new QLineEdit(methods);
    Text8->setObjectName(QStringLiteral("Text8"));
    auto* hint8 = new QLabel(QStringLiteral("(如：3128 或者 80 等等)"), methods);
    for (QLabel* hint : {hint6, hint8}) {
        QPalette grey = hint->palette();
        grey.setColor(QPalette::WindowText, Qt::gray);
        hint->setPalette(grey);
    }
    auto* grid = new QGridLayout(methods);
    grid->addWidget(label1, 0, 0, 1, 3);
    grid->addWidget(Option1, 1, 0, 1, 3);
    grid->addWidget(Option2, 2, 0, 1, 3);
    grid->addWidget(Check1, 3, 0, 1, 3);
    grid->addWidget(label14, 4, 0);
    grid->addWidget(Text6, 4, 1);
    grid->addWidget(hint6, 4, 2);
    grid->addWidget(label15, 5, 0);
    grid->addWidget(Text8, 5, 1);
    grid->addWidget(hint8, 5, 2);

    Check2 = new QCheckBox(QStringLiteral("提取网页信息时，提示下载保存路径"), this);
    Check2->setObjectName(QStringLiteral("Check2"));
    auto* label2a = new QLabel(QStringLiteral("下载文件大小不超过："), this);
    Text1 = new QLineEdit(QStringLiteral("10"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setMaximumWidth(80);
    auto* label2b = new QLabel(QStringLiteral("MB"), this);
    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setDefault(true);
    Command2 = new QPushButton(QStringLiteral("关闭"), this);
    Command2->setObjectName(QStringLiteral("Command2"));

    auto* size = new QHBoxLayout;
    size->addWidget(label2a);
    size->addWidget(Text1);
    size->addWidget(label2b);
    size->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(methods);
    layout->addWidget(Check2);
    layout->addLayout(size);
    layout->addLayout(buttons);

    Check1->setChecked(options_.ProxyEnabled == 1);
    Text6->setText(options_.ProxyAddress);
    Text8->setText(options_.ProxyPort);
    Option1->setChecked(options_.DownloadMethod == 1);
    Option2->setChecked(options_.DownloadMethod == 2);
    Check2->setChecked(options_.PromptSaveFolder == 1);
    Text1->setText(QString::number(options_.MaxFileSizeMB, 'g', 15));

    connect(Command1, &QPushButton::clicked, this, [this] {
        if (Accept())
            accept();
    });
    connect(Command2, &QPushButton::clicked, this, &QDialog::reject);
}

fOption::~fOption() = default;

bool fOption::Accept() {
    bool sizeOk = false;
    const double maxSize = TrimSpaces(Text1->text()).toDouble(&sizeOk);
    if (!sizeOk || !std::isfinite(maxSize) || maxSize < 0) {
        prompter_->message(QStringLiteral("文件最大值必须是数字！"), Prompter::Icon::Critical);
        Text1->setText(QString::number(options_.MaxFileSizeMB, 'g', 15));
        return false;
    }
    if (Option1->isChecked() || Option2->isChecked()) {
        options_.DownloadMethod = Option1->isChecked() ? 1 : 2;
        emit DownloadMethodChanged(options_.DownloadMethod);
    }
    options_.ProxyEnabled = Check1->isChecked() ? 1 : 0;
    options_.ProxyAddress = TrimSpaces(Text6->text());
    options_.ProxyPort = TrimSpaces(Text8->text());
    options_.PromptSaveFolder = Check2->isChecked() ? 1 : 0;
    options_.MaxFileSizeMB = maxSize;
    options_.saveOptions(store_);
    if (options_.ProxyEnabled == 1 &&
        (options_.ProxyAddress.isEmpty() || !IsDigitsOnly(options_.ProxyPort)))
        prompter_->message(QStringLiteral("代理服务器网址或者端口格式不对！"),
                           Prompter::Icon::Critical);
    return true;
}
