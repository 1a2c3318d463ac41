#include "tools/notify_sound.h"

#include "tools/file_helpers.h"
#include "tools/paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace {
// A sound effect that never reports its end is released after this long.
constexpr int MaxSoundLifetimeMs = 30000;
} // namespace

QString NotifySoundFile(int number) {
    if (number < FirstNotifySound || number > LastNotifySound)
        return {};
    const QString fileName = QString::number(number) + QStringLiteral(".wav");
    const QString path = DataFilePath(fileName);
    if (FileExists(path))
        return path;
    QFile resource(QStringLiteral(":/sounds/") + fileName);
    if (!resource.open(QIODevice::ReadOnly))
        return {};
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return {};
    out.write(resource.readAll());
    return out.commit() ? path : QString();
}

void PlayNotifySound(int number) {
    const QString path = NotifySoundFile(number);
    if (path.isEmpty() || !QCoreApplication::instance())
        return;
    auto* effect = new QSoundEffect(QCoreApplication::instance());
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying() && effect->status() != QSoundEffect::Loading)
            effect->deleteLater();
    });
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, [effect] {
        if (effect->status() == QSoundEffect::Error)
            effect->deleteLater();
    });
    QTimer::singleShot(MaxSoundLifetimeMs, effect, &QObject::deleteLater);
    effect->setSource(QUrl::fromLocalFile(path));
    effect->play();
}
