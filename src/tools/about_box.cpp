#include "tools/about_box.h"

#include "tools/system_info.h"
#include "tools/widget_prompter.h"
#include "version.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

frmAbout::frmAbout(QWidget* parent, Prompter* prompter)
    : QDialog(parent)
    , prompter_(prompter, this) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("关于『Quillmarsh』 "));
    setModal(true);

    lsoftname = new QLabel(QStringLiteral("Quillmarsh"), this);
    lsoftname->setObjectName(QStringLiteral("lsoftname"));
    QFont big = lsoftname->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    lsoftname->setFont(big);
    lblVersion = new QLabel(QStringLiteral("版本 %1.%2.%3")
                                .arg(QUILLMARSH_VERSION_MAJOR)
                                .arg(QUILLMARSH_VERSION_MINOR)
                                .arg(QUILLMARSH_VERSION_PATCH),
                            this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    auto* blurb = new QLabel(QStringLiteral("EI 文献检索与批量下载"), this);

    cmdOK = new QPushButton(QStringLiteral("确定"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("系统信息(&S)..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, [this] { StartSysInfo(); });

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    buttons->addStretch();
    auto* texts = new QVBoxLayout;
    texts->addWidget(lsoftname);
    texts->addWidget(lblVersion);
    texts->addWidget(blurb);
    texts->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(texts, 1);
    layout->addLayout(buttons);
}

frmAbout::~frmAbout() = default;

bool frmAbout::StartSysInfo() {
    const QString program = FindSystemInfoProgram();
    if (!program.isEmpty() && QProcess::startDetached(program, {}))
        return true;
    prompter_->message(QStringLiteral("此时系统信息不可用"), Prompter::Icon::None);
    return false;
}
