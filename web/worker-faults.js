// Runs in every thread of the program. A trap on a worker reaches the page only as a message
// without its stack; the worker sends the whole error to the page first.
if (typeof WorkerGlobalScope !== "undefined" && self instanceof WorkerGlobalScope) {
  self.addEventListener("error", (event) => {
    const error = event.error;
    new BroadcastChannel("pfadlotse-fault").postMessage({
      name: error ? error.name : "Error",
      message: error ? error.message : String(event.message),
      stack: error && error.stack ? String(error.stack) : "",
    });
  });
}
