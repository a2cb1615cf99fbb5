#include "app/core/external_tool.h"

#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>

#include "app/core/started_processes.h"

namespace dunmere {

std::string FindTool(const std::string& program) {
  const QString p = QString::fromStdString(program);
  if (p.contains(u'/')) return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
  return QStandardPaths::findExecutable(p).toStdString();
}

ToolResult RunTool(const std::string& program, const std::vector<std::string>& arguments, const ToolLimits& limits) {
  ToolResult r;
  const std::string exe = FindTool(program);
  if (exe.empty()) {
    r.end = ToolResult::End::kMissing;
    return r;
  }
  QStringList args;
  for (const std::string& a : arguments) args << QString::fromStdString(a);

  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.setStandardInputFile(QProcess::nullDevice());
  // Its own group, so that a timeout also ends the helpers it started.
  p.setChildProcessModifier([] { ::setpgid(0, 0); });
  p.start(QString::fromStdString(exe), args);
  if (!p.waitForStarted(3000)) return r;
  const pid_t group = pid_t(p.processId());
  StartedProcesses::Instance().Add(group);

  auto take = [&] {
    const QByteArray chunk = p.readAll();
    const size_t room = limits.outputCap - std::min(limits.outputCap, r.output.size());
    // Beyond the cap the output is read and dropped: a full pipe would stall it.
    r.output.append(chunk.constData(), std::min(room, size_t(chunk.size())));
  };
  const auto deadline = std::chrono::steady_clock::now() + limits.timeout;
  bool timedOut = false;
  while (p.state() != QProcess::NotRunning) {
    // Rounded up: a tool is never ended before its time.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      // The leader is not reaped yet, so the group id is still ours.
      KillProcessGroup(group);
      p.waitForFinished(3000);
      break;
    }
    p.waitForReadyRead(int(std::min<int64_t>(left.count(), 100)));
    take();
  }
  StartedProcesses::Instance().Remove(group);
  take();
  if (timedOut) {
    r.end = ToolResult::End::kTimedOut;
  } else {
    r.end = ToolResult::End::kExited;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  }
  return r;
}

}  // namespace dunmere
