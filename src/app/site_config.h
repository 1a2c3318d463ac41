#pragma once

#include <QString>
#include <QStringList>

// Addresses of the database site and the publishers' domains. The home page can
// be replaced for one run with --home-url (the demo and the tests do).
namespace SiteConfig {

// The database's search page.
inline const QString DatabaseHomeUrl =
    QStringLiteral("https://www.engineeringvillage.com/search/quick.url");
// The database site's registrable domain.
inline const QString DatabaseDomain = QStringLiteral("engineeringvillage.com");
// The database's host name as the SSL-VPN gateway addresses it.
inline const QString DatabaseHost = QStringLiteral("www.engineeringvillage.com");

// Publisher gates of the full-text rules, one per rule (two for the Japanese
// societies). A leading dot only admits host names below the domain.
namespace PublisherMarker {
inline const QString ScienceDirect = QStringLiteral("sciencedirect.com");
inline const QString JapanInstituteOfEnergy = QStringLiteral("jstage.jst.go.jp");
inline const QString ChemicalEngineersJapan = QStringLiteral(".scej.org");
inline const QString Cnki = QStringLiteral(".cnki.net");
inline const QString Wanfang = QStringLiteral("wanfangdata.com.cn");
inline const QString Springer = QStringLiteral(".springer.com");
inline const QString Acs = QStringLiteral(".acs.org");
inline const QString Ecs = QStringLiteral(".ecsdl.org");
inline const QString Iop = QStringLiteral(".iop.org");
inline const QString Wiley = QStringLiteral(".wiley.com");
inline const QString Maney = QStringLiteral(".maneyonline.com");
inline const QString Hindawi = QStringLiteral(".hindawi.com");
inline const QString Nejm = QStringLiteral(".nejm.org");
inline const QString Science = QStringLiteral("sciencemag.org");
} // namespace PublisherMarker

} // namespace SiteConfig
