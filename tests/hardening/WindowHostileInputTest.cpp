// The window's source step under hostile files: loading one shows "Could not read file: " with
// the reason on the error line (or the header, for the files that read), and nothing is touched.

#include "BottomBar.h"
#include "ContentView.h"
#include "HostileInputs.h"
#include "MessageLabel.h"
#include "TestAudio.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace fennick::test {
namespace {

class WindowHostileSource : public ::testing::TestWithParam<HostileSource> { };

TEST_P(WindowHostileSource, ShowsTheReasonOrTheHeader)
{
    const HostileSource& hostile = GetParam();
    TempDir dir;
    const auto source = hostile.make(dir.path());
    const std::string before = snapshot(source);
    ContentView view;
    view.show();
    const int descriptors = openDescriptorCount();

    view.loadSourceFile(QUrl::fromLocalFile(QString::fromStdString(source.string())));

    const ContentState& state = view.state();
    const MessageLabel* errorLine = view.bottomBar()->errorLine();
    EXPECT_EQ(state.fileName, QString::fromStdString(source.filename().string()));
    EXPECT_EQ(state.hasSource(), hostile.readError.empty());
    EXPECT_EQ(errorLine->isVisible(), !hostile.readError.empty());
    if (hostile.readError.empty()) {
        EXPECT_EQ(state.sourceFormat, QStringLiteral("16-bit integer"));
    } else {
        EXPECT_EQ(
            errorLine->text(), QStringLiteral("Could not read file: ") + QString::fromStdString(hostile.readError));
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(snapshot(source), before);
}

INSTANTIATE_TEST_SUITE_P(Sources, WindowHostileSource, ::testing::ValuesIn(hostileSources()), caseName<HostileSource>);

} // namespace
} // namespace fennick::test

int main(int argc, char* argv[])
{
    // Discovery runs this binary at build time, outside the tests' environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
