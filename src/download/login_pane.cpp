#include "download/login_pane.h"

#include "app/browser_view.h"
#include "download/site_login.h"
#include "tools/prompter.h"
#include "tools/text_utils.h"
#include "tools/time_limits.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

template <typename Widget> Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

LoginPane::LoginPane(QWebEngineProfile* profile, Prompter& prompter, QWidget* parent)
    : QWidget(parent)
    , prompter_(prompter) {
    setObjectName(QStringLiteral("PicWebBK"));
    Web1 = Named(new BrowserView(profile, this), "Web1");
    login_ = new SiteLogin(Web1->browser(), prompter, this);
    Timer2 = Named(new QTimer(this), "Timer2");
    Timer2->setInterval(TimeLimits::Scaled(TimeLimits::LoginPaneRefresh));
    buildControls();

    const auto sync = [this] { login_->settings = settings(); };
    for (QLineEdit* box : {Text1, Text2, Text3})
        connect(box, &QLineEdit::textChanged, this, sync);
    connect(Option4, &QRadioButton::toggled, this, sync);
    connect(Command2, &QPushButton::clicked, login_, [this] { login_->Browse(); });
    connect(Command3, &QPushButton::clicked, this, &LoginPane::hideRequested);
    connect(Command5, &QPushButton::clicked, login_, [this] { login_->Run(true); });
    connect(login_, &SiteLogin::browsingChanged, Command2,
            [this](bool browsing) { Command2->setEnabled(!browsing); });
    connect(login_, &SiteLogin::runningChanged, Command5,
            [this](bool running) { Command5->setEnabled(!running); });
    connect(login_, &SiteLogin::autoLoginCleared, Check2, [this] { Check2->setChecked(false); });
    connect(Check1, &QCheckBox::toggled, Timer2, [this](bool on) {
        if (on)
            Timer2->start();
        else
            Timer2->stop();
    });
    // A running login owns the page until it ends: no reload pulls it away.
    connect(Timer2, &QTimer::timeout, Web1, [this] {
        if (!login_->running())
            Web1->browser()->Refresh();
    });
    connect(Check2, &QCheckBox::toggled, this, &LoginPane::autoLoginToggled);
    sync();
}

void LoginPane::buildControls() {
    Label6 = Named(new QLabel(QStringLiteral("网址："), this), "Label6");
    Text1 = Named(new QLineEdit(this), "Text1");
    Command2 = Named(new QPushButton(QStringLiteral("浏览"), this), "Command2");
    Command3 = Named(new QPushButton(QStringLiteral("关闭(隐藏)"), this), "Command3");
    Check1 = Named(new QCheckBox(QStringLiteral("自动刷新(每分钟)"), this), "Check1");
    Check2 = Named(new QCheckBox(QStringLiteral("自动登录"), this), "Check2");
    Label11 = Named(new QLabel(QStringLiteral("自动登录条件："), this), "Label11");
    Combo3 = Named(new QComboBox(this), "Combo3");
    Combo3->addItem(QStringLiteral("下载到网页文件(htm/html/asp)文件"));
    Combo3->setCurrentIndex(0);
    Option4 = Named(new QRadioButton(QStringLiteral("帐号登录："), this), "Option4");
    Option4->setChecked(true);
    Text2 = Named(new QLineEdit(this), "Text2");
    Label10 = Named(new QLabel(QStringLiteral("密码："), this), "Label10");
    Text3 = Named(new QLineEdit(this), "Text3");
    Text3->setEchoMode(QLineEdit::Password);
    Option5 = Named(new QRadioButton(QStringLiteral("IP登录"), this), "Option5");
    Command5 = Named(new QPushButton(QStringLiteral("测试登录"), this), "Command5");

    auto* row1 = new QHBoxLayout;
    row1->addWidget(Label6);
    row1->addWidget(Text1, 1);
    row1->addWidget(Command2);
    row1->addWidget(Command3);
    row1->addSpacing(12);
    row1->addWidget(Check1);
    row1->addWidget(Check2);
    auto* row2 = new QHBoxLayout;
    row2->addWidget(Label11);
    row2->addWidget(Combo3);
    row2->addSpacing(12);
    row2->addWidget(Option4);
    row2->addWidget(Text2);
    row2->addWidget(Label10);
    row2->addWidget(Text3);
    row2->addSpacing(12);
    row2->addWidget(Option5);
    row2->addSpacing(12);
    row2->addWidget(Command5);
    row2->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 2, 2);
    layout->addLayout(row1);
    layout->addLayout(row2);
    layout->addWidget(Web1, 1);
}

LoginSettings LoginPane::settings() const {
    LoginSettings s;
    s.address = Text1->text();
    s.account = Text2->text();
    s.password = Text3->text();
    s.ipLogin = Option5->isChecked();
    return s;
}

bool LoginPane::autoLogin() const {
    return Check2->isChecked();
}

void LoginPane::autoLoginToggled(bool on) {
    if (on) {
        const QString problem = LoginSettingsProblem(settings());
        if (!problem.isEmpty()) {
            prompter_.message(problem, Prompter::Icon::Critical);
            Check2->setChecked(false); // comes back here with on == false
            return;
        }
    }
    emit autoLoginChanged(on);
}

void LoginPane::aboutToShow(const QString& selectedTaskUrl) {
    if (!Check1->isChecked() && !Check2->isChecked() && !login_->running() &&
        !TrimSpaces(selectedTaskUrl).isEmpty())
        Web1->browser()->Navigate(selectedTaskUrl);
}

void LoginPane::hidden() {
    if (!Check1->isChecked() && !login_->running())
        Web1->browser()->Navigate(QStringLiteral("about:blank"));
}

void LoginPane::shutDown() {
    Timer2->stop();
    login_->shutDown();
}
