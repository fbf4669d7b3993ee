#include "video/ui/live_view.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "common/ui/qt_text.h"
#include "layouts/layout_cell.h"
#include "layouts/layout_template.h"
#include "layouts/layouts_file.h"
#include "layouts/ui/camera_list.h"
#include "layouts/ui/layout_grid.h"
#include "layouts/ui/layout_window.h"
#include "layouts/ui/tour_dialog.h"
#include "protocol/diag_log.h"
#include "tile/ui/video_window_container.h"
#include "video/ui/video_page.h"
#include "video/video_layout.h"

namespace krt {
namespace {

constexpr int kCameraListWidth = 220;

std::string text(const QString& value) {
    return value.toStdString();
}

}  // namespace

LiveView::LiveView(const AppState& app, std::filesystem::path layoutsFile, QWidget* parent)
    : QWidget(parent),
      m_app(app),
      m_layoutsFile(std::move(layoutsFile)),
      m_stack(new QStackedWidget(this)),
      m_videoPage(new VideoPage(app)),
      m_grid(new LayoutGrid(app)),
      m_cameras(new CameraList(app, this)),
      m_tourMark(new QLabel(this)) {
    LayoutsFileResult read = readLayoutsFile(m_layoutsFile);
    m_book = std::move(read.book);
    m_bookWritable = read.writable();
    if (!read.message.empty()) {
        writeLog("DVideoPage", "readLayoutsFile", read.message.c_str());
        // After the window is up: an operator sees what happened, and the wall goes on.
        QTimer::singleShot(0, this, [this, message = read.message] { showFileMessage(message); });
    }

    m_stack->addWidget(m_videoPage);
    m_stack->addWidget(m_grid);
    m_cameras->setFixedWidth(kCameraListWidth);
    m_cameras->hide();
    m_toolBar = makeToolBar();
    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addWidget(m_stack, 1);
    body->addWidget(m_cameras);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_toolBar);
    column->addLayout(body, 1);

    m_tourMark->setObjectName(QStringLiteral("tourMark"));
    m_tourMark->setStyleSheet(QStringLiteral(
        "QLabel { color: white; background: rgba(0, 90, 200, 200); padding: 2px 6px; }"));
    m_tourMark->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_tourMark->setTextFormat(Qt::PlainText);  // it names the tour as the operator typed it
    m_tourMark->hide();

    m_videoPage->setSingleViewReturn([this] { return returnFromSingleView(); });
    connect(m_videoPage, &VideoPage::fullScreenChanged, this, &LiveView::enterFullScreenChanged);
    connect(m_grid, &LayoutGrid::cameraDropped, this,
            [this](int cell, const CameraRef& camera) { placeCamera(cell, camera); });
    connect(m_grid, &LayoutGrid::cellsSwapped, this, &LiveView::swapCells);
    connect(m_grid, &LayoutGrid::cameraRemoved, this, [this](int cell) { placeCamera(cell, {}); });
    connect(m_grid, &LayoutGrid::cellOpened, this, &LiveView::openCellAlone);
    connect(m_grid, &LayoutGrid::fullScreenToggled, this,
            [this] { setFullScreen(!m_videoPage->fullScreen()); });
    connect(m_grid, &LayoutGrid::fullScreenLeft, this, [this] { setFullScreen(false); });
    connect(m_cameras, &CameraList::cameraChosen, this,
            [this](const CameraRef& camera) { placeCamera(m_grid->focusedCell(), camera); });

    // Alt+1...9: the named layouts in their order; Alt+0: "All cameras".
    for (int number = 0; number <= 9; ++number) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | (Qt::Key_0 + number)), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, number] {
            if (number == 0) {
                showLayout(kAllCamerasLayout);
            } else if (static_cast<std::size_t>(number) <= m_book.layouts().size()) {
                showLayout(m_book.layouts()[static_cast<std::size_t>(number - 1)].name);
            }
        });
    }
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Pause), QKeySequence(Qt::Key_P)}) {
        auto* hold = new QShortcut(key, this);
        hold->setContext(Qt::WindowShortcut);
        connect(hold, &QShortcut::activated, this, &LiveView::toggleTourHold);
    }
    m_tourTimer.setInterval(kTourTick_ms);
    connect(&m_tourTimer, &QTimer::timeout, this, &LiveView::tourTick);
    qApp->installEventFilter(this);
    refreshLayoutList();
}

LiveView::~LiveView() {
    qApp->removeEventFilter(this);
}

QWidget* LiveView::makeToolBar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 2, 4, 2);
    m_layoutList = new QComboBox(bar);
    m_layoutList->setObjectName(QStringLiteral("layoutList"));
    m_layoutList->setMinimumContentsLength(14);
    m_layoutList->setToolTip(QStringLiteral("Layout shown (Alt+1...9, Alt+0 for All cameras)"));
    connect(m_layoutList, &QComboBox::activated, this,
            [this](int index) { showLayout(text(m_layoutList->itemData(index).toString())); });
    m_layoutButton = new QToolButton(bar);
    m_layoutButton->setText(QStringLiteral("Layouts"));
    m_layoutButton->setPopupMode(QToolButton::InstantPopup);
    m_layoutButton->setMenu(new QMenu(m_layoutButton));
    connect(m_layoutButton->menu(), &QMenu::aboutToShow, this, &LiveView::fillLayoutMenu);
    m_editButton = new QToolButton(bar);
    m_editButton->setText(QStringLiteral("Cameras"));
    m_editButton->setToolTip(QStringLiteral("Show the camera list to drag cameras onto cells"));
    m_editButton->setCheckable(true);
    connect(m_editButton, &QToolButton::toggled, this, &LiveView::setEditing);
    m_templateList = new QComboBox(bar);
    m_templateList->setToolTip(QStringLiteral("Arrangement of the layout's cells"));
    for (const LayoutTemplate& shape : layoutTemplates()) {
        m_templateList->addItem(qtText(shape.id));
    }
    connect(m_templateList, &QComboBox::activated, this,
            [this](int index) { setTemplate(text(m_templateList->itemText(index))); });
    m_tourButton = new QToolButton(bar);
    m_tourButton->setText(QStringLiteral("Tour"));
    m_tourButton->setPopupMode(QToolButton::InstantPopup);
    m_tourButton->setMenu(new QMenu(m_tourButton));
    connect(m_tourButton->menu(), &QMenu::aboutToShow, this, &LiveView::fillTourMenu);
    row->addWidget(new QLabel(QStringLiteral("Layout:"), bar));
    row->addWidget(m_layoutList);
    row->addWidget(m_templateList);
    row->addWidget(m_layoutButton);
    row->addWidget(m_editButton);
    row->addWidget(m_tourButton);
    row->addStretch(1);
    // The page keeps the keys: the bar answers the mouse.
    for (QWidget* control : bar->findChildren<QWidget*>()) {
        control->setFocusPolicy(Qt::NoFocus);
    }
    return bar;
}

void LiveView::refreshLayoutList() {
    m_layoutList->clear();
    // Shown by the text rule, as names from the layouts file; switched to by the stored name.
    m_layoutList->addItem(qtText(kAllCamerasLayout), qtText(kAllCamerasLayout));
    for (const Layout& layout : m_book.layouts()) {
        m_layoutList->addItem(qtServerText(layout.name), qtText(layout.name));
    }
    m_layoutList->setCurrentIndex(m_layoutList->findData(qtText(m_current)));
    const Layout* shown = m_book.findLayout(m_current);
    m_templateList->setVisible(shown != nullptr);
    // Cameras are placed on named layouts only: "All cameras" places them itself.
    m_editButton->setEnabled(shown != nullptr);
    m_cameras->setVisible(m_editing && shown != nullptr && !m_videoPage->fullScreen());
    if (shown != nullptr) {
        m_templateList->setCurrentIndex(
            m_templateList->findText(qtText(shown->templateId), Qt::MatchExactly));
    }
}

void LiveView::fillLayoutMenu() {
    QMenu* menu = m_layoutButton->menu();
    menu->clear();
    const bool named = m_book.findLayout(m_current) != nullptr;
    menu->addAction(QStringLiteral("New layout..."), this, &LiveView::askNewLayout);
    menu->addAction(QStringLiteral("Rename..."), this, &LiveView::askRename)->setEnabled(named);
    menu->addAction(QStringLiteral("Duplicate..."), this, &LiveView::askDuplicate)
        ->setEnabled(named);
    menu->addAction(QStringLiteral("Delete"), this, &LiveView::askDelete)->setEnabled(named);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Open in new window"), this,
                    [this] { openInNewWindow(m_returnLayout.value_or(m_current)); });
    menu->addAction(QStringLiteral("Alarm monitor"), this, &LiveView::alarmMonitorRequested);
}

void LiveView::askNewLayout() {
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, QStringLiteral("New layout"), QStringLiteral("Name:"),
                              QLineEdit::Normal, qtText(m_book.freeName("Layout")), &ok);
    if (!ok) {
        return;
    }
    const QString shape = QInputDialog::getItem(
        this, QStringLiteral("New layout"), QStringLiteral("Cells:"),
        [] {
            QStringList ids;
            for (const LayoutTemplate& each : layoutTemplates()) {
                ids << qtText(each.id);
            }
            return ids;
        }(),
        1, false, &ok);
    if (!ok) {
        return;
    }
    if (const auto error = createLayout(text(name), text(shape))) {
        QMessageBox::warning(this, QStringLiteral("New layout"), qtText(*error));
        return;
    }
    setEditing(true);
}

void LiveView::askRename() {
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, QStringLiteral("Rename layout"), QStringLiteral("Name:"),
                              QLineEdit::Normal, qtText(m_current), &ok);
    if (ok) {
        if (const auto error = renameLayout(text(name))) {
            QMessageBox::warning(this, QStringLiteral("Rename layout"), qtText(*error));
        }
    }
}

void LiveView::askDuplicate() {
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, QStringLiteral("Duplicate layout"), QStringLiteral("Name:"),
                              QLineEdit::Normal, qtText(m_book.freeName(m_current)), &ok);
    if (ok) {
        if (const auto error = duplicateLayout(text(name))) {
            QMessageBox::warning(this, QStringLiteral("Duplicate layout"), qtText(*error));
        }
    }
}

void LiveView::askDelete() {
    // The name as typed, whatever it holds: plain text.
    QMessageBox question(QMessageBox::Question, QStringLiteral("Delete layout"),
                         QStringLiteral("Delete the layout \"%1\"?").arg(qtServerText(m_current)),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setTextFormat(Qt::PlainText);
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() == QMessageBox::Yes) {
        deleteLayout();
    }
}

std::optional<std::string> LiveView::createLayout(std::string_view name,
                                                  std::string_view templateId) {
    if (auto error = m_book.addLayout(name, templateId)) {
        return error;
    }
    saveBook();
    showLayout(name);
    return std::nullopt;
}

std::optional<std::string> LiveView::renameLayout(std::string_view newName) {
    const std::string old = m_current;
    if (auto error = m_book.renameLayout(old, newName)) {
        return error;
    }
    m_current = newName;
    saveBook();
    for (const QPointer<LayoutWindow>& window : m_windows) {
        if (window && window->grid()->layoutName() == old) {
            window->showLayout(*m_book.findLayout(newName));
        }
    }
    applyToShownLayout();
    return std::nullopt;
}

std::optional<std::string> LiveView::duplicateLayout(std::string_view newName) {
    if (auto error = m_book.duplicateLayout(m_current, newName)) {
        return error;
    }
    saveBook();
    showLayout(newName);
    return std::nullopt;
}

void LiveView::deleteLayout() {
    if (m_book.findLayout(m_current) == nullptr) {
        return;
    }
    m_book.removeLayout(m_current);
    saveBook();
    showLayout(kAllCamerasLayout);
}

void LiveView::setTemplate(std::string_view templateId) {
    if (!m_book.setTemplate(m_current, templateId)) {
        saveBook();
        applyToShownLayout();
    }
}

void LiveView::placeCamera(int cell, const CameraRef& camera) {
    if (m_book.findLayout(m_current) == nullptr || cell < 0) {
        return;
    }
    m_book.placeCamera(m_current, static_cast<std::size_t>(cell), camera);
    saveBook();
    applyToShownLayout();
}

void LiveView::swapCells(int first, int second) {
    if (m_book.findLayout(m_current) == nullptr || first < 0 || second < 0) {
        return;
    }
    m_book.swapCells(m_current, static_cast<std::size_t>(first), static_cast<std::size_t>(second));
    saveBook();
    applyToShownLayout();
}

void LiveView::applyToShownLayout() {
    const Layout* layout = m_book.findLayout(m_current);
    if (layout == nullptr) {
        return;
    }
    if (m_stack->currentWidget() == m_grid) {
        m_grid->showLayout(*layout);
    }
    for (const QPointer<LayoutWindow>& window : m_windows) {
        if (window && window->grid()->layoutName() == layout->name) {
            window->showLayout(*layout);
        }
    }
    refreshLayoutList();
}

void LiveView::saveBook() {
    if (!m_bookWritable) {
        showFileMessage("The layouts file \"" + m_layoutsFile.string() +
                        "\" could not be read when the client started; it is left as it is, "
                        "and this change is kept only until the client ends.");
        return;
    }
    if (const auto error = writeLayoutsFile(m_layoutsFile, m_book)) {
        writeLog("DVideoPage", "writeLayoutsFile", error->c_str());
        showFileMessage(*error);
    }
}

void LiveView::showFileMessage(const std::string& message) {
    if (m_fileMessage == nullptr) {
        m_fileMessage = new QMessageBox(QMessageBox::Warning, QStringLiteral("Layouts"), QString(),
                                        QMessageBox::Ok, this);
        m_fileMessage->setModal(false);
        m_fileMessage->setTextFormat(Qt::PlainText);
    }
    m_fileMessage->setText(qtText(message));
    m_fileMessage->show();
}

bool LiveView::showLayout(std::string_view name) {
    if (name == kAllCamerasLayout) {
        showAllCameras(std::nullopt);
        return true;
    }
    const Layout* layout = m_book.findLayout(name);
    if (layout == nullptr) {
        return false;
    }
    m_current = name;
    m_returnLayout.reset();
    m_videoPage->suspend();
    m_stack->setCurrentWidget(m_grid);
    m_grid->setEditable(true);
    m_grid->showLayout(*layout);
    m_grid->setFocus();
    refreshLayoutList();
    return true;
}

void LiveView::showAllCameras(std::optional<int> page) {
    m_grid->stop();
    m_current = kAllCamerasLayout;
    m_returnLayout.reset();
    m_stack->setCurrentWidget(m_videoPage);
    // "All cameras" are the first server's.
    m_videoPage->showServer(m_app);
    if (page || m_videoPage->singleView()) {
        m_videoPage->showGridPage(page.value_or(0));
    } else {
        m_videoPage->relayout();
    }
    m_videoPage->setFocus();
    refreshLayoutList();
}

void LiveView::openCellAlone(int cell) {
    const Layout* layout = m_book.findLayout(m_current);
    if (layout == nullptr || cell < 0 || static_cast<std::size_t>(cell) >= layout->cells.size()) {
        return;
    }
    const CellCamera shown = cellCamera(layout->cells[static_cast<std::size_t>(cell)], m_app);
    if (shown.channel() != nullptr) {
        showCameraAlone(*shown.server, shown.channelIndex);
    }
}

void LiveView::showChannelAt(int channelIndex) {
    showCameraAlone(m_app, channelIndex);
}

void LiveView::showCameraAlone(const AppState& server, int channelIndex) {
    if (m_stack->currentWidget() == m_grid) {
        m_returnLayout = m_current;
        m_grid->stop();
    }
    m_stack->setCurrentWidget(m_videoPage);
    m_videoPage->showServer(server);
    m_videoPage->showChannelAt(channelIndex);
    m_videoPage->setFocus();
}

void LiveView::refreshServers() {
    m_cameras->reload();
    if (m_stack->currentWidget() == m_grid) {
        m_grid->refreshCells();
    }
    for (const QPointer<LayoutWindow>& window : m_windows) {
        if (window) {
            window->grid()->refreshCells();
        }
    }
}

bool LiveView::returnFromSingleView() {
    if (!m_returnLayout) {
        return false;
    }
    const std::string back = *m_returnLayout;
    return showLayout(back);
}

void LiveView::setLiveGrid(bool liveGrid) {
    m_liveGrid = liveGrid;
    m_videoPage->setLiveGrid(liveGrid);
    m_grid->setLiveGrid(liveGrid);
    for (const QPointer<LayoutWindow>& window : m_windows) {
        if (window) {
            window->grid()->setLiveGrid(liveGrid);
        }
    }
}

void LiveView::setEvidenceSettings(const EvidenceSettings& settings) {
    m_evidenceSettings = settings;
    m_videoPage->setEvidenceSettings(settings);
    m_grid->setEvidenceSettings(settings);
    for (const QPointer<LayoutWindow>& window : m_windows) {
        if (window) {
            window->grid()->setEvidenceSettings(settings);
        }
    }
}

void LiveView::setFullScreen(bool on) {
    m_videoPage->setFullScreen(on);
}

void LiveView::enterFullScreenChanged(bool on) {
    m_toolBar->setVisible(!on);
    refreshLayoutList();
    if (m_stack->currentWidget() == m_grid) {
        m_grid->setFocus();
    }
}

void LiveView::setEditing(bool on) {
    m_editing = on;
    m_editButton->setChecked(on);
    if (on) {
        m_cameras->reload();
    }
    refreshLayoutList();
}

int LiveView::allCamerasPages() const {
    const int columns = m_videoPage->gridColumns();
    return pageCount(m_videoPage->server().channelCount(), columns, columns);
}

LayoutWindow* LiveView::openInNewWindow(std::string_view name) {
    Layout layout;
    if (const Layout* named = m_book.findLayout(name)) {
        layout = *named;
    } else {
        // "All cameras": the grid's page shown now, as a layout of that size.
        const int columns = m_videoPage->gridColumns();
        // From the single view, the page that holds its camera.
        const int page = m_videoPage->singleView() ? m_videoPage->pageIndex / (columns * columns)
                                                   : m_videoPage->pageIndex;
        layout = {std::string(kAllCamerasLayout),
                  std::to_string(columns) + "x" + std::to_string(columns),
                  {}};
        const AppState& server = m_videoPage->server();
        for (int tile = 0; tile < columns * columns; ++tile) {
            const std::optional<int> channel =
                channelForTile(page, columns, columns, tile, server.channelCount());
            layout.cells.push_back(
                {.server = server.m_serverName,
                 .channel = channel
                                ? server.m_channels[static_cast<std::size_t>(*channel)].ChannelID
                                : ""});
        }
    }
    auto* window = new LayoutWindow(m_app, this->window());
    window->grid()->setLiveGrid(m_liveGrid);
    window->grid()->setEvidenceSettings(m_evidenceSettings);
    window->showLayout(layout);
    window->show();
    std::erase_if(m_windows, [](const QPointer<LayoutWindow>& each) { return each.isNull(); });
    m_windows.emplace_back(window);
    return window;
}

void LiveView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeOverlay();
}

void LiveView::placeOverlay() {
    m_tourMark->adjustSize();
    m_tourMark->move(width() - m_tourMark->width() - 8, m_toolBar->isVisible() ? 4 : 20);
    m_tourMark->raise();
}

}  // namespace krt
