#pragma once

#include "camera/CameraOpenReport.h"
#include "thermal/ThermalReader.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QVideoFrame>

class QTimer;
class CameraWorker;
class ClipRecorder;
class SnapshotWriter;

// The camera session controller, declared by the main window. It has the camera opened (by the
// choice the command line made, "UVC Camera" by default), runs the player on the node the camera
// library opened, feeds every image to the frame provider, reconnects when images stop, and carries
// the camera commands and the property refresh.
//
// Every slot runs on the main thread and never waits for the camera: the library is called only on
// the controller's camera worker thread, which reports back with signals. The session is a state
// machine; each state has a text for the window (statusText) and says whether the picture in the
// pane is live or to be shown marked (dimmed, with the text over it).
class MainControl : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusChanged)
    Q_PROPERTY(bool pictureMarked READ pictureMarked NOTIFY statusChanged)
    Q_PROPERTY(QString sessionState READ sessionState NOTIFY statusChanged)
    // A clip is being written; how long it runs, in whole seconds of the camera's capture times.
    Q_PROPERTY(bool clipRecording READ clipRecording NOTIFY clipChanged)
    Q_PROPERTY(int clipSeconds READ clipSeconds NOTIFY clipChanged)
    // Where snapshots and clips go.
    Q_PROPERTY(QString picturesFolder READ picturesFolder CONSTANT)
    Q_PROPERTY(QString videosFolder READ videosFolder CONSTANT)
    // --- the camera profile's side (CameraProfile): what a split camera leaves to the viewer
    // The temperature reader of split frames; its pictures are what the pane shows on such a camera.
    Q_PROPERTY(ThermalReader *thermal READ thermalReader CONSTANT)
    // "whole" or "split": the layout of the camera opened last.
    Q_PROPERTY(QString pictureLayout READ pictureLayout NOTIFY viewerStateChanged)
    // The commands the profile gives to the viewer: tracking on (the window boxes thermal.maxPoint),
    // the zoom factor to draw the picture at (1.0 .. 4.0). Record starts the viewer's clip.
    Q_PROPERTY(bool viewerTracking READ viewerTracking NOTIFY viewerStateChanged)
    Q_PROPERTY(double viewerZoom READ viewerZoom NOTIFY viewerStateChanged)
    // False where the camera takes no flat-field correction: the window disables the button.
    Q_PROPERTY(bool flatFieldTaken READ flatFieldTaken NOTIFY viewerStateChanged)

public:
    enum class State
    {
        Idle,
        Searching,
        Opening,
        NoPermission,
        Busy,
        WaitingForFirstPicture,
        Live,
        PictureLost,
        Reconnecting,
    };
    Q_ENUM(State)

    explicit MainControl(QObject *parent = nullptr);
    ~MainControl() override;

    // What the window shows over the pane: "" while the picture is live and nothing needs saying.
    QString statusText() const;
    // True unless the picture is live: the pane is then dimmed under the status.
    bool pictureMarked() const { return state != State::Live; }
    QString sessionState() const;
    State currentState() const { return state; }
    // How long ago the last picture came, by the controller's own clock; -1 before the first.
    qint64 pictureAgeMs() const { return delivered ? sinceFrame.elapsed() : -1; }

    // How long a camera that has not delivered yet gets before the session reconnects.
    static constexpr int kFirstPictureGraceMs = 10000;
    ThermalReader *thermalReader() const { return thermal; }
    QString pictureLayout() const { return CameraProfile::layoutName(camera.profile.layout); }
    bool viewerTracking() const { return viewerTrackingOn; }
    double viewerZoom() const { return viewerZoomFactor; }
    bool flatFieldTaken() const
    {
        return camera.profile.target(CameraProfile::FlatField) != CameraProfile::Target::Nowhere;
    }

    // A picture older than this (or three frame intervals, if longer) is no longer live.
    static constexpr int kPictureLostMs = 1000;
    // How long "command not accepted" stays in the window.
    static constexpr int kNoticeMs = 4000;

    bool clipRecording() const;
    int clipSeconds() const;
    QString picturesFolder() const;
    QString videosFolder() const;

    // The latest live picture, at the camera's resolution, as a PNG under the pictures folder; the
    // window says where it went, or why not.
    Q_INVOKABLE void slotSnapshot();
    // Starts a clip of the camera's picture, or ends the one running.
    Q_INVOKABLE void slotClip();
    // Opens FOLDER (made if missing) in the desktop's file manager.
    Q_INVOKABLE void openFolder(const QString &folder);

signals:
    void newFormat(int, int);
    void newFrameAvailable(const QVideoFrame &frame);
    void sigUpdateZoomValue(double value);
    void sigUpdateSN(const QString &value);
    void statusChanged();
    void clipChanged();
    void viewerStateChanged();

protected slots:
    void slotSearchDevice();
    void slotStartUVCConnect();
    void slotEndUVCConnect();
    void slotRecord();
    void slotPalette();
    void slotTrack();
    void slotFFC();
    void slotZoom(double value);
    void startCapture();
    void stopCapture();
    void playStart();
    void playFinsh();
    void PlayError();
    void snapImage(const QImage &image);
    void updateImage(const QImage &image);
    void slotCheckFrame();
    void slotSyncDevice();

private slots:
    void onOpened(const CameraOpenReport &report);
    void onCommandDone(int channel, int value, int error);
    void onRefreshed(bool ran, double zoom, const QString &sn);
    void checkLiveness();
    void presentThermal(const QImage &picture);

private:
    // Every change of state goes through here: the text for the window, logged once per change.
    void enter(State next, const QString &text);
    // Rewrites the text of the current state without logging (a counter that moves on).
    void updateText(const QString &text);
    void sendCommand(int channel, int value);
    // A message for the window under the session's text, for kNoticeMs.
    void showNotice(const QString &message);
    // Ends a running clip (its file complete); the badge goes when the clip reports.
    void endClip();
    void finishClip();
    // The profile's route for a command: true when it went to the viewer or nowhere (then nothing is
    // sent to the camera).
    bool routedAway(CameraProfile::Command command, double zoom = 0);
    // Stops the player and has the camera closed; the session goes on (or not) as the caller says.
    void teardown();
    // After a teardown: the search again, after delayMs.
    void searchAgain(int delayMs);
    QString wantedCamera() const;
    QString searchingText() const;
    int pictureLostAfterMs() const;

    QThread workerThread;
    CameraWorker *worker;

    QTimer *searchTimer;
    QTimer *checkFrameTimer;
    QTimer *syncTimer;
    QTimer *livenessTimer;
    QTimer *openingTimer;
    QTimer *noticeTimer;
    QTimer *retryTimer;
    QTimer *clipTimer;
    SnapshotWriter *snapshots;
    ClipRecorder *clip = nullptr;
    QString clipFailure; // why the running clip stopped, until it reports its file

    State state = State::Idle;
    QString text;
    QString notice;
    bool sessionActive = false;
    bool openOutstanding = false;
    bool refreshOutstanding = false;
    bool capturing = false;
    bool delivered = false;
    // The last zoom the user asked for has been answered by the camera: a refresh may move the slider.
    bool zoomSettled = true;
    int lastZoom = 0;
    int noFrameCount = 0;
    double frameIntervalMs = 0;
    QElapsedTimer sinceFrame;
    QElapsedTimer sinceCaptureStart;
    QElapsedTimer sinceSearchStart;
    CameraOpenReport camera;                // of the last successful open
    CameraOpenReport lastMiss;              // of the last failed open
    QSet<QPair<int, int>> reportedRefusals; // channel, errno: logged once until a command goes through

    // --- split cameras
    ThermalReader *thermal;
    bool thermalShown = false; // the reader drew a picture during this capture
    bool viewerTrackingOn = false;
    double viewerZoomFactor = 1.0;
};
