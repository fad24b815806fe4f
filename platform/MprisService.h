#pragma once
// The MPRIS face of the media control centre. Private to platform/. Main thread only.

#include "platform/MediaControls.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace rillow {

class MprisService : public QObject {
    Q_OBJECT

public:
    explicit MprisService(MediaControlCenter& center);
    ~MprisService() override;

    bool isPublished() const { return !busName_.isEmpty(); }
    const QString& busName() const { return busName_; }

    // Called by the centre after any change; emits PropertiesChanged for what differs.
    void publish();

    // The player interface's state, read by the adaptor.
    QVariantMap metadata() const;
    QString playbackStatus() const;
    qlonglong positionMicroseconds() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canPlay() const;
    bool canPause() const;
    bool canSeek() const;

    void command(RemoteCommand command);
    void seekBy(qlonglong offsetMicroseconds);
    void setPosition(const QDBusObjectPath& track, qlonglong positionMicroseconds);

private:
    QVariantMap snapshot() const;

    MediaControlCenter& center_;
    QDBusConnection bus_;
    QString busName_;
    QVariantMap published_;
    int trackNumber_ = 0;
    QString trackTitle_;
};

class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    explicit MprisRootAdaptor(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    bool canQuit() const { return false; }
    bool canRaise() const { return false; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Rillow"); }
    QString desktopEntry() const { return QStringLiteral("rillow"); }
    QStringList supportedUriSchemes() const {
        return {QStringLiteral("magnet"), QStringLiteral("file")};
    }
    QStringList supportedMimeTypes() const { return {}; }

public Q_SLOTS:
    void Raise() {}
    void Quit() {}
};

class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)

public:
    MprisPlayerAdaptor(QObject* parent, MprisService& service)
        : QDBusAbstractAdaptor(parent), service_(service) {}
    QString playbackStatus() const { return service_.playbackStatus(); }
    // MPRIS forbids a rate of 0: a paused player says so through PlaybackStatus.
    double rate() const { return 1.0; }
    QVariantMap metadata() const { return service_.metadata(); }
    double volume() const { return 1.0; }
    qlonglong position() const { return service_.positionMicroseconds(); }
    bool canGoNext() const { return service_.canGoNext(); }
    bool canGoPrevious() const { return service_.canGoPrevious(); }
    bool canPlay() const { return service_.canPlay(); }
    bool canPause() const { return service_.canPause(); }
    bool canSeek() const { return service_.canSeek(); }
    bool canControl() const { return true; }

public Q_SLOTS:
    void Next() { service_.command(RemoteCommand::nextTrack); }
    void Previous() { service_.command(RemoteCommand::previousTrack); }
    void Pause() { service_.command(RemoteCommand::pause); }
    void PlayPause() { service_.command(RemoteCommand::togglePlayPause); }
    void Stop() { service_.command(RemoteCommand::stop); }
    void Play() { service_.command(RemoteCommand::play); }
    void Seek(qlonglong offset) { service_.seekBy(offset); }
    void SetPosition(const QDBusObjectPath& track, qlonglong position) {
        service_.setPosition(track, position);
    }
    void OpenUri(const QString&) {}

Q_SIGNALS:
    void Seeked(qlonglong position);

private:
    MprisService& service_;
};

}  // namespace rillow
