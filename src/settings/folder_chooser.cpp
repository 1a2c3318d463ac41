#include "settings/folder_chooser.h"

#include "download/save_names.h"
#include "settings/folder_history.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "tools/file_helpers.h"
#include "tools/paths.h"
#include "tools/text_utils.h"
#include "tools/widget_prompter.h"
#include "tools/window_helpers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>

namespace {
// Entries shown without a scroll bar in the drop-down part.
constexpr int VisibleDropDownItems = 8;
constexpr int DropDownPadding = 7;
} // namespace

QString BrowseStartFolder(const QString& text) {
    if (TrimSpaces(text).isEmpty())
        return HomeFolder();
    QString start = text;
    const qsizetype slash = start.left(start.size() - 1).lastIndexOf(u'/');
    if (slash >= 0)
        start = start.left(slash + 1);
    return FolderExists(start) ? start : HomeFolder();
}

QString TypedFolderPath(const QString& text, QString* error) {
    QString path = text.trimmed();
    if (path == u"~" || path.startsWith(QStringLiteral("~/")))
        path = HomeFolder() + path.mid(1);
    if (path.isEmpty()) {
        *error = QStringLiteral("请输入保存文件的文件夹！");
        return {};
    }
    // A relative path would land wherever the program happened to start.
    if (!QDir::isAbsolutePath(path)) {
        *error = QStringLiteral("请输入完整的文件夹路径（以“/”开头）！");
        return {};
    }
    path = QDir::cleanPath(path);
    // Folders that exist are taken as they are. A level still to be made is made
    // under the name typed or not at all: a name that the file-name cleaning would
    // change would give the user a folder of another name.
    QString walked;
    bool creating = false;
    for (const QString& part : path.split(u'/', Qt::SkipEmptyParts)) {
        walked += u'/' + part;
        if (!creating && FolderExists(walked))
            continue;
        creating = true;
        const QString cleaned = SanitizeFileName(part);
        if (cleaned.isEmpty()) {
            *error = QStringLiteral("文件夹名称有误！不能创建文件夹！");
            return {};
        }
        if (cleaned != part) {
            *error = QStringLiteral("文件夹名称“%1”不能使用：不能含有 \\ : * ? \" < > | "
                                    "等字符，不能以“.”或空格开头、结尾，也不能过长。请修改后再试！")
                         .arg(part);
            return {};
        }
    }
    error->clear();
    return path;
}

QString BrowseFolder(Prompter& prompter, const QString& startText, const QString& prompt) {
    QString chosen = prompter.folderName(prompt, BrowseStartFolder(startText));
    if (chosen.isEmpty())
        chosen = startText;
    if (!chosen.endsWith(u'/'))
        chosen += u'/';
    return chosen;
}

void FitDropDownWidth(QComboBox* list) {
    if (!list)
        return;
    QString longest;
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i).size() > longest.size())
            longest = list->itemText(i);
    }
    int width = list->fontMetrics().horizontalAdvance(longest) + DropDownPadding;
    if (list->count() > VisibleDropDownItems)
        width += list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (const QScreen* screen = list->screen()) {
        const int room = screen->geometry().right() - list->mapToGlobal(QPoint(0, 0)).x();
        width = std::min(width, std::max(room, 0));
    }
    list->view()->setMinimumWidth(std::max(width, 0));
}

fSeleFileSavePath::fSeleFileSavePath(SharedOptions& options, SettingsStore& store,
                                     Prompter* prompter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint)
    , options_(options)
    , store_(store)
    , prompter_(prompter, this) {
    setObjectName(QStringLiteral("fSeleFileSavePath"));
    setWindowTitle(WindowCaption(QStringLiteral("选择下载保存路径")));
    setModal(true);

    Label1 = new QLabel(QStringLiteral("保存到文件夹："), this);
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setMinimumContentsLength(36);
    Command1 = new QPushButton(QStringLiteral("..."), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Label3 = new QLabel(QStringLiteral("保存文件名为："), this);
    Option1 = new QRadioButton(QStringLiteral("原文件名"), this);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2 = new QRadioButton(QStringLiteral("文章标题名称"), this);
    Option2->setObjectName(QStringLiteral("Option2"));
    Command2 = new QPushButton(QStringLiteral("确定"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setDefault(true);
    Command3 = new QPushButton(QStringLiteral("取消"), this);
    Command3->setObjectName(QStringLiteral("Command3"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Combo1, 0, 1, 1, 2);
    grid->addWidget(Command1, 0, 3);
    grid->addWidget(Label3, 1, 0);
    grid->addWidget(Option1, 1, 1);
    grid->addWidget(Option2, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command2);
    buttons->addWidget(Command3);
    grid->addLayout(buttons, 2, 0, 1, 4);

    connect(Command1, &QPushButton::clicked, this, &fSeleFileSavePath::Browse);
    connect(Command2, &QPushButton::clicked, this, &fSeleFileSavePath::Accept);
    connect(Command3, &QPushButton::clicked, this, &fSeleFileSavePath::Cancel);

    (options_.UseOriginalFileName ? Option1 : Option2)->setChecked(true);
    QStringList history;
    LoadFolderHistory(history, FolderHistoryPath());
    Combo1->addItems(history);
    Combo1->setCurrentText(TrimSpaces(store_.text(SettingKeys::DownloadFolder())));
    options_.loadDownloadFolder(store_);
    FitDropDownWidth(Combo1);
}

fSeleFileSavePath::~fSeleFileSavePath() = default;

void fSeleFileSavePath::Browse() {
    Combo1->setCurrentText(
        BrowseFolder(*prompter_, Combo1->currentText(), QStringLiteral("请选择要浏览的文件夹:")));
}

void fSeleFileSavePath::Accept() {
    options_.UseOriginalFileName = Option1->isChecked();
    QString error;
    const QString typed = TypedFolderPath(Combo1->currentText(), &error);
    if (typed.isEmpty()) {
        prompter_->message(error, Prompter::Icon::Critical);
        return;
    }
    QString folder = EnsureFolder(WithTrailingSlash(typed), *prompter_);
    if (folder != typed)
        folder.clear(); // never a folder other than the one typed
    Combo1->setCurrentText(folder);
    if (folder.isEmpty()) {
        prompter_->message(QStringLiteral("文件夹设置错误！"), Prompter::Icon::Critical);
        return;
    }
    options_.DownloadFolder = WithTrailingSlash(folder);
    store_.setText(SettingKeys::DownloadFolder(), options_.DownloadFolder);
    options_.FolderChooserCancelled = false;
    Combo1->addItem(TrimSpaces(folder));
    QStringList history;
    for (int i = 0; i < Combo1->count(); ++i)
        history.append(Combo1->itemText(i));
    SaveFolderHistory(history, FolderHistoryPath());
    done(QDialog::Accepted);
}

void fSeleFileSavePath::Cancel() {
    reject();
}

void fSeleFileSavePath::reject() {
    options_.FolderChooserCancelled = true;
    QDialog::reject();
}

void fSeleFileSavePath::Choose(SharedOptions& options, SettingsStore& store, Prompter* prompter,
                               QWidget* parent) {
    options.FolderChooserCancelled = false;
    fSeleFileSavePath dialog(options, store, prompter, parent);
    dialog.exec();
}
