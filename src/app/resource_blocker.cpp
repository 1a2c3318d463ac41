#include "app/resource_blocker.h"

bool ResourceBlocker::Refuses(QWebEngineUrlRequestInfo::ResourceType type) {
    switch (type) {
    case QWebEngineUrlRequestInfo::ResourceTypeImage:
    case QWebEngineUrlRequestInfo::ResourceTypeFavicon:
    case QWebEngineUrlRequestInfo::ResourceTypeMedia:
    case QWebEngineUrlRequestInfo::ResourceTypeFontResource:
    case QWebEngineUrlRequestInfo::ResourceTypeStylesheet:
        return true;
    default:
        return false;
    }
}

void ResourceBlocker::interceptRequest(QWebEngineUrlRequestInfo& info) {
    const auto type = info.resourceType();
    if (!Refuses(type) ||
        (type == QWebEngineUrlRequestInfo::ResourceTypeStylesheet && styleSheetsAllowed_))
        return;
    info.block(true);
    ++refused_;
    if (type == QWebEngineUrlRequestInfo::ResourceTypeStylesheet)
        ++refusedStyleSheets_;
}
