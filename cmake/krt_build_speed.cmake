# What keeps a build cheap on two cores: a faster linker, precompiled headers and unity builds
# of the tests. None of it changes what is compiled or checked: every warning, -Werror and the
# sanitizers apply as before.

# lld links the many test, fuzz and benchmark programs, debug information and all, several times
# faster than ld.bfd.
include(CheckLinkerFlag)
check_linker_flag(CXX -fuse-ld=lld KRT_HAVE_LLD)
if(KRT_HAVE_LLD)
  add_link_options(-fuse-ld=lld)
endif()

# The library headers that most files include, parsed once per precompiled header instead of
# once per file. Window-free targets never get the Qt ones: their floor must not see Qt.
# Targets with the same compile flags share one header (REUSE_FROM); GCC's -Winvalid-pch, an
# error here, tells when they stop matching.
set(KRT_PCH_STD <algorithm> <array> <atomic> <chrono> <cstdint> <filesystem> <functional>
                <map> <memory> <mutex> <optional> <span> <string> <string_view> <system_error>
                <thread> <vector>)
set(KRT_PCH_QT <QApplication> <QCheckBox> <QComboBox> <QDialog> <QImage> <QKeyEvent> <QLabel>
               <QLineEdit> <QMenu> <QMessageBox> <QPainter> <QPushButton> <QScrollBar>
               <QSpinBox> <QString> <QTabWidget> <QTimer> <QToolButton> <QVBoxLayout> <QWidget>)
set(KRT_PCH_TEST <gtest/gtest.h> <gmock/gmock.h> <fstream> <sstream> <condition_variable>)
