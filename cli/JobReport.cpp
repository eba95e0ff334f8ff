#include "cli/JobReport.h"

#include "cli/Jobs.h"

namespace skyfold::cli {

int ReportJob(const JobResult& result, ProgressPrinter& printer, std::ostream& out) {
  switch (result.status) {
    case JobResult::Status::Refused:
      printer.Finish();
      return kExitRefused;
    case JobResult::Status::Failed:
      printer.Message(result.message);
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
    printer.Message("標準出力に書き込めません。");
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
