#pragma once
// Preparing the process for QtWebEngine. Must run before the QApplication is
// created (main() and every test that opens a browser call it first).

#include <QByteArray>
#include <QString>

namespace wendral {

struct WebEngineSetup
{
    bool disableSandbox = false; // Chromium's sandbox cannot run as root
    bool disableGpu = false;     // no usable GPU: render in software
    // Without a GPU the pages are drawn by Qt Quick's software renderer and
    // no OpenGL is loaded at all: the GPU-less OpenGL (llvmpipe) would only
    // cost the helper a tenth of a second at start and tens of megabytes.
    bool softwareScene = false;
};

// The decisions, from facts the caller gathers (kept apart so they can be
// checked without changing the process):
//  - the sandbox goes off only when the effective user is root;
//  - the GPU goes off when the platform is offscreen or minimal, or when no
//    DRM render node can be opened (Xvfb, VNC and most containers have none,
//    and Chromium's GPU process only fails noisily there);
//  - the software scene goes with the GPU going off, unless the user chose
//    another Qt Quick backend (QT_QUICK_BACKEND).
WebEngineSetup decideWebEngineSetup(bool effectiveRoot, const QString &qpaPlatform, bool renderNodeUsable,
                                    const QString &quickBackend = {});

// Adds a flag to a Chromium flags string unless it is already there.
QByteArray withChromiumFlag(const QByteArray &flags, const QByteArray &flag);
// Adds a logging rule unless the rules already name its category.
QByteArray withLoggingRule(const QByteArray &rules, const QByteArray &category, const QByteArray &rule);

// Applies the decisions to this process: QTWEBENGINE_DISABLE_SANDBOX (only as
// root), --disable-gpu in QTWEBENGINE_CHROMIUM_FLAGS, quiet context logging;
// with OpenGL, Qt::AA_ShareOpenGLContexts, which QtWebEngine needs before the
// application object exists; for the software scene QT_QUICK_BACKEND=software
// and QT_XCB_GL_INTEGRATION=none. Settings the user already made are kept.
WebEngineSetup prepareWebEngineEnvironment();

} // namespace wendral
