#include "app/cover_window.h"

#include "app/app_context.h"
#include "app/os_name.h"
#include "app/update_check.h"
#include "http/xml_http.h"
#include "search/search_window.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "tools/shell_open.h"
#include "tools/text_utils.h"
#include "version.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QPixmap CoverPicture() {
    QPixmap picture(360, 150);
    QPainter p(&picture);
    QLinearGradient sky(0, 0, 0, picture.height());
    sky.setColorAt(0, QColor(28, 84, 120));
    sky.setColorAt(1, QColor(96, 168, 140));
    p.fillRect(picture.rect(), sky);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(240, 240, 220), 3));
    // A quill over marsh reeds.
    QPainterPath quill;
    quill.moveTo(30, 135);
    quill.cubicTo(50, 100, 90, 80, 150, 70);
    quill.cubicTo(110, 95, 80, 110, 30, 135);
    p.setBrush(QColor(240, 240, 220, 160));
    p.drawPath(quill);
    p.setPen(QPen(QColor(200, 230, 200), 2));
    for (int x = 220; x < 340; x += 14)
        p.drawLine(x, 140, x + 6, 90 + (x % 3) * 8);
    QFont font = p.font();
    font.setPointSize(20);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, picture.width() - 16, 56), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Quillmarsh"));
    return picture;
}

} // namespace

QString CoverVersionText() {
    return QStringLiteral("版本:%1.%2.%3")
        .arg(QUILLMARSH_VERSION_MAJOR)
        .arg(QUILLMARSH_VERSION_MINOR)
        .arg(QUILLMARSH_VERSION_PATCH);
}

fCover::fCover(AppContext& context, Prompter* prompter, QWidget* parent)
    : QWidget(parent)
    , context_(context)
    , prompter_(prompter, this) {
    setObjectName(QStringLiteral("fCover"));
    setWindowTitle(QStringLiteral("Quillmarsh"));

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(CoverPicture());
    Label2 = new QLabel(QStringLiteral("版本："), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label3 = new QLabel(QStringLiteral("最新版本："), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->hide();
    Command1 = new QPushButton(QStringLiteral("资料检索下载"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setDefault(true);
    Command3 = new QPushButton(QStringLiteral("退出软件"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    Timer1->setSingleShot(true);
    uXMLHTTP2 = new uXMLHTTP(this);
    uXMLHTTP2->setObjectName(QStringLiteral("uXMLHTTP2"));
    uXMLHTTP2->setMaximumBodySize(VersionFileMaxBytes);
    openUrl = &OpenUrlInBrowser;

    auto* labels = new QHBoxLayout;
    labels->addWidget(Label2);
    labels->addStretch();
    labels->addWidget(Label3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Image1);
    layout->addLayout(labels);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Command1, &QPushButton::clicked, this, &fCover::openSearchWindow);
    connect(Command3, &QPushButton::clicked, this, &QWidget::close);
    connect(Timer1, &QTimer::timeout, this, [this] {
        Timer1->stop();
        获取最新版本();
    });
    connect(uXMLHTTP2, &uXMLHTTP::OnDateArrived, this, &fCover::evaluateVersionFile);
    // Queued: the modal message must not run inside the request's own signal.
    connect(
        uXMLHTTP2, &uXMLHTTP::OnDateErr, this,
        [this] {
            prompter_->message(QStringLiteral("请保持网络畅通！"), Prompter::Icon::Critical);
        },
        Qt::QueuedConnection);
}

fWebSearch* fCover::searchWindow() const {
    return search_.data();
}

void fCover::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!loaded_)
        loadOnce();
}

void fCover::loadOnce() {
    loaded_ = true;
    Label2->setText(CoverVersionText());
    context_.OSName = GetOSName();
    // Qt WebEngine always renders in standards mode: nothing to set up for it.
    context_.options.loadForStartWindow(context_.store);
    Timer1->start();
}

void fCover::获取最新版本() {
    versionText_.clear();
    // No release server yet: without an address there is no request and no message.
    if (context_.updateUrl.isEmpty())
        return;
    if (!uXMLHTTP2->Open_(QStringLiteral("GET"), context_.updateUrl)) {
        qWarning("Quillmarsh: the update address is not an http or https address");
        return;
    }
    uXMLHTTP2->Send_();
}

void fCover::evaluateVersionFile() {
    // A file this large is no version file: ignored like any other malformed one.
    if (uXMLHTTP2->BodyTooLarge())
        return;
    versionText_ = TrimSpaces(uXMLHTTP2->ResponseText());
    const auto newer = NewerVersion(versionText_, RunningVersionKey());
    if (!newer)
        return;
    const QString page = ProductPageUrl(context_.updateUrl);
    if (!page.isEmpty() && openUrl)
        openUrl(page);
    Label3->setText(QStringLiteral("最新版本：V") + *newer);
    Label3->show();
}

void fCover::openSearchWindow() {
    hide();
    if (!search_)
        search_ = new fWebSearch(context_, this, nullptr);
    search_->show();
    search_->raise();
    search_->activateWindow();
}

void fCover::closeEvent(QCloseEvent* event) {
    event->accept();
    // Closing the start window ends the program, without other windows' questions.
    QCoreApplication::quit();
}
