#include "search/search_window.h"

#include "app/app_context.h"
#include "app/browser_view.h"
#include "storage/store_status.h"
#include "tools/window_helpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>

// The search window's controls and the rules that lay them out.

namespace {

// Layout limits, in twips as the window rules state them.
constexpr int MinWidthTwips = 9000;
constexpr int MinHeightTwips = 5000;
constexpr int SplitterBottomMarginTwips = 1200;
constexpr int RecordRowHeight = 13;

int Px(int twips) {
    return (twips + 14) / 15;
}

// Lets the user drag a panel around inside its parent.
class PanelDragger : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* panel = qobject_cast<QWidget*>(watched);
        if (!panel)
            return false;
        if (event->type() == QEvent::MouseButtonPress) {
            auto* e = static_cast<QMouseEvent*>(event);
            if (e->button() == Qt::LeftButton)
                offset_ = e->position().toPoint();
        } else if (event->type() == QEvent::MouseMove) {
            auto* e = static_cast<QMouseEvent*>(event);
            QWidget* area = panel->parentWidget();
            if ((e->buttons() & Qt::LeftButton) && area) {
                const QPoint inArea = panel->mapToParent(e->position().toPoint());
                if (area->rect().contains(inArea))
                    panel->move(inArea - offset_);
            }
        }
        return false;
    }

private:
    QPoint offset_;
};

} // namespace

void fWebSearch::buildControls() {
    setMinimumSize(Px(MinWidthTwips), Px(MinHeightTwips));
    PicBar = new QSplitter(Qt::Vertical, this);
    PicBar->setObjectName(QStringLiteral("PicBar"));
    PicBar->setChildrenCollapsible(false);
    PicBar->setHandleWidth(6);

    PicPanWeb = new QWidget(PicBar);
    PicPanWeb->setObjectName(QStringLiteral("PicPanWeb"));
    WebBrowser1 = new BrowserView(context_.profile, PicPanWeb);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    auto* webLayout = new QVBoxLayout(PicPanWeb);
    webLayout->setContentsMargins(1, 1, 1, 1);
    webLayout->addWidget(WebBrowser1);

    PicPanList = new QWidget(PicBar);
    PicPanList->setObjectName(QStringLiteral("PicPanList"));
    Combo1 = new QComboBox(PicPanList);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setToolTip(QStringLiteral("点击网址，打开历史网页"));
    Combo1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Combo1->setMinimumContentsLength(30);
    Command1 = new QPushButton(QStringLiteral("清空"), PicPanList);
    Command1->setObjectName(QStringLiteral("Command1"));
    Check2 = new QCheckBox(QStringLiteral("禁止浏览器弹出脚本提示"), PicPanList);
    Check2->setObjectName(QStringLiteral("Check2"));
    Check1 = new QCheckBox(QStringLiteral("只提取网页勾选项"), PicPanList);
    Check1->setObjectName(QStringLiteral("Check1"));
    Command9 = new QPushButton(QStringLiteral("加入本页到列表"), PicPanList);
    Command9->setObjectName(QStringLiteral("Command9"));
    Command4 = new QPushButton(QStringLiteral("加入全部到列表"), PicPanList);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command2 = new QPushButton(QStringLiteral("开始分析"), PicPanList);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command3 = new QPushButton(QStringLiteral("停止分析"), PicPanList);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command7 = new QPushButton(QStringLiteral("导出数据..."), PicPanList);
    Command7->setObjectName(QStringLiteral("Command7"));
    auto* countCaption = new QLabel(QStringLiteral("待分析列表："), PicPanList);
    Label1 = new QLabel(QStringLiteral("0"), PicPanList);
    Label1->setObjectName(QStringLiteral("Label1"));

    ListView1 = new QTableView(PicPanList);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setToolTip(QStringLiteral("双击浏览选中的文章"));
    ListView1->setModel(&records);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView1->verticalHeader()->hide();
    ListView1->horizontalHeader()->setStretchLastSection(true);
    ListView1->setWordWrap(false);
    PaintListStripes(ListView1, RecordRowHeight);
    connect(&records, &RecordListModel::countChanged, this,
            [this](int n) { Label1->setText(QString::number(n)); });

    auto* row1 = new QHBoxLayout;
    row1->addWidget(Combo1, 1);
    row1->addWidget(Command1);
    row1->addSpacing(12);
    row1->addWidget(Check2);
    row1->addWidget(Check1);
    auto* row2 = new QHBoxLayout;
    for (QPushButton* b : {Command9, Command4, Command2, Command3, Command7})
        row2->addWidget(b);
    row2->addStretch(1);
    row2->addWidget(countCaption);
    row2->addWidget(Label1);
    auto* listLayout = new QVBoxLayout(PicPanList);
    listLayout->setContentsMargins(2, 2, 2, 2);
    listLayout->addLayout(row1);
    listLayout->addLayout(row2);
    listLayout->addWidget(ListView1, 1);

    PicPanPrograss = new QFrame(PicPanList);
    PicPanPrograss->setObjectName(QStringLiteral("PicPanPrograss"));
    PicPanPrograss->setFrameShape(QFrame::Panel);
    PicPanPrograss->setFrameShadow(QFrame::Raised);
    PicPanPrograss->setAutoFillBackground(true);
    Label11 = new QLabel(QStringLiteral("正在分析，请稍候..."), PicPanPrograss);
    Label11->setObjectName(QStringLiteral("Label11"));
    Command5 = new QPushButton(QStringLiteral("停止"), PicPanPrograss);
    Command5->setObjectName(QStringLiteral("Command5"));
    auto* progressLayout = new QHBoxLayout(PicPanPrograss);
    progressLayout->addWidget(Label11);
    progressLayout->addWidget(Command5);
    PicPanPrograss->adjustSize();
    PicPanPrograss->installEventFilter(new PanelDragger(PicPanPrograss));
    PicPanPrograss->hide();

    PicBar->addWidget(PicPanWeb);
    PicBar->addWidget(PicPanList);
    PicBar->setStretchFactor(0, 4);
    PicBar->setStretchFactor(1, 1);
    setCentralWidget(PicBar);
    connect(PicBar, &QSplitter::splitterMoved, this, [this] {
        applyLayoutRules();
        centreProgressPanel();
    });

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusPanel1 = new QLabel(StatusBar1);
    StatusPanel2 = new QLabel(StatusBar1);
    StatusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    StatusBar1->addWidget(StatusPanel1);
    StatusBar1->addWidget(StatusPanel2, 1);
    setStatusBar(StatusBar1);
    ShowListStoreProblems(StatusBar1, context_.lists);

    Web2 = new BrowserPage(context_.profile, this);
    Web2->setObjectName(QStringLiteral("Web2"));
}

void fWebSearch::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isMinimized())
        return;
    applyLayoutRules();
    PaintListStripes(ListView1, RecordRowHeight);
    centreProgressPanel();
}

void fWebSearch::applyLayoutRules() {
    const QList<int> sizes = PicBar->sizes();
    if (sizes.size() != 2)
        return;
    // The splitter's top edge, in window coordinates.
    const int splitterTop = PicBar->y() + sizes.at(0);
    const int lowest = height() - Px(SplitterBottomMarginTwips);
    if (splitterTop <= PicBar->y() || splitterTop > lowest) {
        const int webHeight = std::max(1, height() * 4 / 5 - PicBar->y());
        const int total = sizes.at(0) + sizes.at(1);
        PicBar->setSizes({webHeight, std::max(1, total - webHeight)});
    }
}

void fWebSearch::centreProgressPanel() {
    PicPanPrograss->adjustSize();
    const QSize area = PicPanList->size();
    PicPanPrograss->move((area.width() - PicPanPrograss->width()) / 2,
                         (area.height() - PicPanPrograss->height()) / 2);
}
