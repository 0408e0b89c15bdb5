#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <memory>

namespace {

// One QApplication for the whole test program, on the main thread, without a display. Qt's own
// messages go to standard output: standard error is the program's own trace, which tests read.
class QtEnvironment final : public testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
            std::printf("Qt: %s\n", message.toLocal8Bit().constData());
        });
        m_application = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_application.reset(); }
    // Reached without TearDown only when a test ends the process with exit(), as Cancel does: the
    // application then stays, as main's own would, for windows that are still up.
    ~QtEnvironment() override { (void)m_application.release(); }

private:
    int m_argc = 1;
    char m_name[16] = "zav_test_app_qt";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
};

const testing::Environment* const kQtEnvironment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
