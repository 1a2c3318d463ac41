#include "tools/copy_window.h"

#include "settings/folder_chooser.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
const char* const RuleCaptions[] = {
    "跳过",
    "覆盖",
    "自动重命名",
    "文件大小和修改时间均相同：覆盖；否则：自动重命名",
    "文件大小相同：覆盖；否则：自动重命名",
};
} // namespace

Form_Copy_Move::Form_Copy_Move(SettingsStore& store, Prompter* prompter, QWidget* parent)
    : QDialog(parent)
    , prompter_(prompter, this)
    , job_(store, *prompter_, this)
    , rules_(new QButtonGroup(this)) {
    setObjectName(QStringLiteral("Form_Copy_Move"));
    setWindowTitle(QStringLiteral("复制文件..."));
    setModal(true);

    Label1 = new QLabel(QStringLiteral("目的文件夹："), this);
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setMinimumContentsLength(36);
    Command1 = new QPushButton(QStringLiteral("浏览"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Frame1 = new QGroupBox(QStringLiteral("如果同名文件已经存在"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    auto* frameLayout = new QVBoxLayout(Frame1);
    for (int number = FirstSameNameRule; number <= LastSameNameRule; ++number) {
        auto* option = new QRadioButton(QString::fromUtf8(RuleCaptions[number - 1]), Frame1);
        option->setObjectName(QStringLiteral("Option%1").arg(number));
        rules_->addButton(option, number);
        frameLayout->addWidget(option);
        Option.append(option);
    }
    Label2 = new QLabel(QStringLiteral("当前文件："), this);
    Label3 = new QLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label4 = new QLabel(QStringLiteral("进度;"), this);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setValue(0);
    Command2 = new QPushButton(QStringLiteral("开始"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command3 = new QPushButton(QStringLiteral("关闭"), this);
    Command3->setObjectName(QStringLiteral("Command3"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Combo1, 0, 1);
    grid->addWidget(Command1, 0, 2);
    grid->addWidget(Frame1, 1, 0, 1, 3);
    grid->addWidget(Label2, 2, 0);
    grid->addWidget(Label3, 2, 1, 1, 2);
    grid->addWidget(Label4, 3, 0);
    grid->addWidget(ProgressBar1, 3, 1, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command2);
    buttons->addWidget(Command3);
    grid->addLayout(buttons, 4, 0, 1, 3);

    connect(Command1, &QPushButton::clicked, this, &Form_Copy_Move::Browse);
    connect(Command2, &QPushButton::clicked, this, &Form_Copy_Move::Start);
    connect(Command3, &QPushButton::clicked, this, &QDialog::reject);
    connect(rules_, &QButtonGroup::idClicked, this, [this](int number) { job_.rule = number; });
    connect(&job_, &CopyJob::destinationTextChanged, Combo1, &QComboBox::setCurrentText);
    connect(&job_, &CopyJob::historyChanged, this, &Form_Copy_Move::showHistory);
    connect(&job_, &CopyJob::currentFileChanged, Label3, &QLabel::setText);
    connect(&job_, &CopyJob::progressChanged, this, [this](int value, int maximum) {
        ProgressBar1->setMaximum(maximum);
        ProgressBar1->setValue(value);
    });
    connect(&job_, &CopyJob::runningChanged, this, &Form_Copy_Move::showRunState);
    connect(&job_, &CopyJob::stoppingChanged, this, &Form_Copy_Move::showRunState);

    job_.load();
    FitDropDownWidth(Combo1);
    if (QAbstractButton* option = rules_->button(job_.rule))
        option->setChecked(true);
}

Form_Copy_Move::~Form_Copy_Move() = default;

void Form_Copy_Move::showHistory() {
    const QString text = Combo1->currentText();
    Combo1->clear();
    Combo1->addItems(job_.history);
    Combo1->setCurrentText(text);
}

void Form_Copy_Move::showRunState() {
    // A stopping run ends the file on its way first; no new run before that.
    Command2->setEnabled(!job_.stopping());
    if (job_.stopping())
        Command2->setText(QStringLiteral("正在停止..."));
    else
        Command2->setText(job_.running() ? QStringLiteral("停止") : QStringLiteral("开始"));
}

void Form_Copy_Move::setFiles(const QStringList& files, const QString& title) {
    job_.files = files;
    if (!title.isEmpty())
        setWindowTitle(title);
}

void Form_Copy_Move::Open(const QStringList& files, SettingsStore& store, Prompter* prompter,
                          QWidget* parent) {
    Form_Copy_Move tool(store, prompter, parent);
    tool.setFiles(files, QStringLiteral("复制文件：%1 个文件...").arg(files.size()));
    tool.exec();
}

void Form_Copy_Move::Start() {
    job_.destinationText = Combo1->currentText();
    job_.执行(true);
}

void Form_Copy_Move::Browse() {
    Combo1->setCurrentText(
        BrowseFolder(*prompter_, Combo1->currentText(), QStringLiteral("请选择要浏览的文件夹:")));
}

void Form_Copy_Move::reject() {
    // Closing stops the run at once; the file being copied is dropped.
    job_.cancel();
    job_.files.clear();
    QDialog::reject();
}
