#include "settings/ui/video_settings_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSignalSpy>

#include "app/ui/main_sheet.h"
#include "common/ui/ui_test_support.h"
#include "settings/ui/settings_page.h"
#include "tile/ui/video_window_container.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

using VideoSettingsBoxTest = test::UiTest;

TEST_F(VideoSettingsBoxTest, StoresEachChoiceAtOnceAndLoadsOnlyKnownGrids) {
    VideoSettingsBox box;
    EXPECT_EQ(box.gridColumns(), 2);
    EXPECT_FALSE(box.liveGrid());
    EXPECT_EQ(box.liveGridBox()->text(),
              QStringLiteral("Refresh grid tiles at the camera's frame rate"));
    QSignalSpy grids(&box, &VideoSettingsBox::gridColumnsChanged);
    box.gridChoice()->setCurrentIndex(2);
    emit box.gridChoice()->activated(2);
    EXPECT_EQ(stored("GridColumns"), "4");
    ASSERT_EQ(grids.count(), 1);
    EXPECT_EQ(grids.front().front().toInt(), 4);
    box.liveGridBox()->click();
    EXPECT_EQ(stored("LiveGrid"), "true");
    box.liveGridBox()->click();
    EXPECT_EQ(stored("LiveGrid"), "false");

    struct Case {
        const char* text;
        int columns;
    };
    for (const Case c : {Case{"3", 3}, Case{"4", 4}, Case{"2", 2}, Case{"7", 2}, Case{"", 2}}) {
        store("GridColumns", c.text);
        box.load();
        EXPECT_EQ(box.gridColumns(), c.columns) << c.text;
    }
}

TEST_F(VideoSettingsBoxTest, TheStoredGridOpensTheVideosPageAndAChoiceChangesIt) {
    store("GridColumns", "3");
    store("LiveGrid", "TRUE");
    AppState app;
    app.m_channels.resize(20);
    for (std::size_t k = 0; k < app.m_channels.size(); ++k) {
        app.m_channels[k].ChannelID = std::to_string(k + 1);
    }
    MainSheet sheet(app);
    sheet.show();
    VideoPage* page = sheet.videoPage();
    EXPECT_EQ(page->rows(), 3);
    EXPECT_EQ(page->cols(), 3);
    EXPECT_TRUE(page->liveGrid());
    page->pageIndex = 1;
    page->relayout();
    VideoSettingsBox* box = sheet.settingsPage()->videoSettings();
    box->gridChoice()->setCurrentIndex(2);
    emit box->gridChoice()->activated(2);
    EXPECT_EQ(page->rows(), 4);
    EXPECT_EQ(page->pageIndex, 0) << "channel 10, the first shown, is on the first 4 x 4 page";
    EXPECT_EQ(page->tiles()[15]->getChannelId(), "16");
}

}  // namespace
}  // namespace krt
