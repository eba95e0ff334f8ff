#include "cli/JobReport.h"

#include "cli/Jobs.h"
#include "imaging/PathUtils.h"

namespace skyfold::cli {

std::string DescribeFailure(const JobResult& result) {
  std::string text = result.message;
  const std::string file = result.file.empty() ? std::string() : ExpandFileName(result.file);
  if (!file.empty() && text.find(file) == std::string::npos) text = file + ": " + text;
  if (!result.detail.empty()) text += ": " + result.detail;
  return text;
}

int ReportJob(const JobResult& result, ProgressPrinter& printer, std::ostream& out) {
  switch (result.status) {
    case JobResult::Status::Refused:
      if (result.message.empty()) {
        printer.Finish();
      } else {
        printer.Message(DescribeFailure(result));
      }
      return kExitRefused;
    case JobResult::Status::Failed:
      printer.Message(DescribeFailure(result));
      return kExitFailed;
    case JobResult::Status::Cancelled:
      printer.Message(result.message);
      return kExitCancelled;
    case JobResult::Status::Done:
      break;
  }
  printer.Finish();
  for (const std::string& path : result.written) out << path << '\n';
  out << std::flush;
  if (!out) {
    // The files are in place; only their listing was lost.
    printer.Message("skyfold-cli: cannot write the list of files to standard output");
    out.clear();
    return kExitFailed;
  }
  return kExitOk;
}

int CombineStatus(int status, int job) {
  if (job == kExitFailed || (job == kExitRefused && status == kExitOk)) return job;
  return status;
}

}  // namespace skyfold::cli
