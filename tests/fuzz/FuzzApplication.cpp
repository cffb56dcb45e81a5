// The application object of the fuzz targets that run Qt's event loop (awaited tasks, thread
// pools, child processes): made once before the first input and kept for the whole run, with
// the project's own log categories quiet so that logging does not drown the fuzzer's output.
#include <QCoreApplication>
#include <QLoggingCategory>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    QLoggingCategory::setFilterRules(QStringLiteral("com.corvane.drive.*=false"));
    static QCoreApplication *const app = new QCoreApplication(*argc, *argv);
    (void)app;
    return 0;
}
