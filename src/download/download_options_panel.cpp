#include "download/download_options_panel.h"

#include "tools/text_utils.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace {

template <typename Widget> Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

DownloadOptionsPanel::DownloadOptionsPanel(QWidget* parent)
    : QFrame(parent) {
    setObjectName(QStringLiteral("Picture3"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    QPalette panel = palette();
    QLinearGradient image(0, 0, 0, 120);
    image.setColorAt(0, QColor(236, 244, 250));
    image.setColorAt(1, QColor(214, 230, 242));
    panel.setBrush(QPalette::Window, image);
    setPalette(panel);

    Label7 = Named(new QLabel(this), "Label7");
    Command26 = Named(new QPushButton(QStringLiteral("切换"), this), "Command26");
    Command26->setToolTip(QStringLiteral("更改下载方式"));
    auto* label2 = Named(new QLabel(QStringLiteral("线程数："), this), "Label2");
    Combo1 = Named(new QComboBox(this), "Combo1");
    for (int i = 1; i <= MaxThreads; ++i)
        Combo1->addItem(QString::number(i));
    auto* label8 = Named(new QLabel(QStringLiteral("同名文件："), this), "Label8");
    Option1 = Named(new QRadioButton(QStringLiteral("跳过"), this), "Option1");
    Option2 = Named(new QRadioButton(QStringLiteral("覆盖"), this), "Option2");
    Option3 = Named(new QRadioButton(QStringLiteral("重命名"), this), "Option3");

    // The interval list sits in the gap of its caption: the caption shows up to the gap,
    // the unit follows the list.
    auto* intervalBox = new QWidget(this);
    auto* label5 =
        Named(new QLabel(QStringLiteral("两个文件下载间隔：        秒"), intervalBox), "Label5");
    label5->setFixedWidth(
        label5->fontMetrics().horizontalAdvance(QStringLiteral("两个文件下载间隔：")));
    Combo2 = Named(new QComboBox(intervalBox), "Combo2");
    Combo2->setMaxVisibleItems(20);
    auto* intervalLayout = new QHBoxLayout(intervalBox);
    intervalLayout->setContentsMargins(0, 0, 0, 0);
    intervalLayout->setSpacing(2);
    intervalLayout->addWidget(label5);
    intervalLayout->addWidget(Combo2);
    intervalLayout->addWidget(new QLabel(QStringLiteral("秒"), intervalBox));

    Check3 = Named(new QCheckBox(QStringLiteral("自动重新下载："), this), "Check3");
    Combo4 = Named(new QComboBox(this), "Combo4");
    Combo4->addItems({QStringLiteral("出错项"), QStringLiteral("文件类型为HTM和HTML项"),
                      QStringLiteral("出错项和文件类型为HTM和HTML项")});
    Check4 = Named(new QCheckBox(QStringLiteral("当有待下载项时，自动启动下载"), this), "Check4");
    Check5 = Named(new QCheckBox(QStringLiteral("有5个以上下载出错或者网页文件，就停止下载"), this),
                   "Check5");
    Check6 = Named(new QCheckBox(QStringLiteral("声音提示"), this), "Check6");
    Command4 = Named(new QPushButton(QStringLiteral("开始下载"), this), "Command4");
    Command31 = Named(new QPushButton(QStringLiteral("停止下载"), this), "Command31");
    Command1 = Named(new QPushButton(QStringLiteral("网页登录"), this), "Command1");
    RunningIndicator = Named(new QLabel(QStringLiteral("正在下载..."), this), "RunningIndicator");
    RunningIndicator->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0); font-weight: bold;"));
    RunningIndicator->hide();
    auto* label4 = Named(new QLabel(QStringLiteral("下载列表："), this), "Label4");
    Label1 = Named(new QLabel(QStringLiteral("0条"), this), "Label1");

    auto* row1 = new QHBoxLayout;
    row1->addWidget(Label7);
    row1->addWidget(Command26);
    row1->addSpacing(16);
    row1->addWidget(label2);
    row1->addWidget(Combo1);
    row1->addSpacing(16);
    row1->addWidget(label8);
    row1->addWidget(Option1);
    row1->addWidget(Option2);
    row1->addWidget(Option3);
    row1->addSpacing(16);
    row1->addWidget(intervalBox);
    row1->addStretch(1);
    auto* row2 = new QHBoxLayout;
    row2->addWidget(Check3);
    row2->addWidget(Combo4);
    for (QCheckBox* check : {Check4, Check5, Check6}) {
        row2->addSpacing(12);
        row2->addWidget(check);
    }
    row2->addStretch(1);
    auto* row3 = new QHBoxLayout;
    row3->addWidget(Command4);
    row3->addWidget(Command31);
    row3->addSpacing(16);
    row3->addWidget(Command1);
    row3->addSpacing(16);
    row3->addWidget(RunningIndicator);
    row3->addStretch(1);
    row3->addWidget(label4);
    row3->addWidget(Label1);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->addLayout(row1, 0, 0);
    grid->addLayout(row2, 1, 0);
    grid->addLayout(row3, 2, 0);
}

QString DownloadOptionsPanel::SelectedPolicy() const {
    for (QRadioButton* option : {Option1, Option2, Option3}) {
        if (option->isChecked())
            return TrimSpaces(option->text());
    }
    return TrimSpaces(Option3->text());
}

void DownloadOptionsPanel::selectPolicy(const QString& policy) {
    if (TrimSpaces(Option1->text()) == policy)
        Option1->setChecked(true);
    else if (TrimSpaces(Option2->text()) == policy)
        Option2->setChecked(true);
    else
        Option3->setChecked(true);
}

void DownloadOptionsPanel::ShowMethod(int method) {
    Label7->setText(QStringLiteral("下载方式：%1").arg(method));
    Combo1->setEnabled(method == 2);
    Combo1->setCurrentIndex(0);
}

void DownloadOptionsPanel::fillIntervals() {
    Combo2->clear();
    for (int s = 0; s <= MaxIntervalSeconds; ++s)
        Combo2->addItem(QString::number(s));
    Combo2->setCurrentIndex(0);
}
