#include "web_test.h"

#include "app/run_javascript.h"

QVariant Evaluate(BrowserPage* page, const QString& script) {
    return Await(RunJavaScript(page, script, QWebEngineScript::MainWorld));
}
