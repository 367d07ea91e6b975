// The demo app's logic: a menu with a header, a row that changes each time the menu opens, a
// submenu, a submenu read from a file, the Dock row, a panel drawn by the views library, the
// update channels the host switches, answers to picks and replies to URLs. It
// talks JSON lines with the host on stdin/stdout; anything else it prints reaches the host's own
// output unchanged.

type Row = Record<string, unknown>;
type Message = Record<string, unknown>;

const prefix = "DEMO_";
let lastPick = "nothing yet";
let picks = 0;
let opens = 0;

function send(message: Message): void {
  process.stdout.write(JSON.stringify(message) + "\n");
}

// A menu file that another program could keep up to date; the host reads it each time its
// submenu opens.
const recentFile = `${process.env.HOME ?? "/tmp"}/demo-recent.json`;

function writeRecentFile(): void {
  const recent = [
    { id: "recent-1", title: "Report.pdf", checked: true },
    { id: "recent-2", title: "Notes.txt" },
    { separator: true },
    { id: "older", title: "Older", submenu: [{ id: "recent-3", title: "Plan.md" }] },
  ];
  Bun.write(recentFile, JSON.stringify({ rows: recent }));
}

function rows(): Row[] {
  const now = new Date().toLocaleTimeString("en-GB");
  return [
    { kind: "header", title: "Demo", symbol: "sparkles", badge: "circle.fill", pointSize: 16, tooltip: "Menu-bar host demo" },
    { id: "clock", title: `Opened at ${now} (${opens} times)`, enabled: false },
    { id: "last-pick", title: `Last pick: ${lastPick}`, enabled: false },
    { kind: "separator" },
    { id: "hello", title: "Say hello", enabled: true, key: "⌘H", symbol: "paperplane" },
    { id: "more", title: "More", submenu: true, enabled: true },
    { id: "count", title: `Picks so far: ${picks}`, parent: "more", enabled: true },
    { id: "host.show-in-dock", title: "Show in Dock", parent: "more", enabled: true },
    { id: "recent", title: "Recent", submenu: true, enabled: true, submenuFile: recentFile, submenuSelectionMark: " ✓" },
    { id: "note", title: "Show a note", enabled: true, symbol: "doc" },
    { id: "channels", title: "Update channel", submenu: true, enabled: true },
    { id: "channel.stable", title: "Stable", parent: "channels", enabled: true },
    { id: "channel.beta", title: "Beta", parent: "channels", enabled: true },
    { kind: "separator" },
    { id: "quit", title: "Quit Demo", enabled: true, key: "⌘Q" },
  ];
}

function publish(): void {
  send({ menu: rows() });
}

// The views library draws the panel; its answer comes back as {"act": text}.
function showTheNote(): void {
  const look = { title: "Hello from the demo", text: `You have picked ${picks} rows.`, act: "note: OK" };
  send({ panel: { name: "note", call: "open", look: JSON.stringify(look) } });
}

function answerPick(id: string, title: string): void {
  lastPick = title || id;
  picks += 1;
  console.log(`picked ${id} (${title})`);
  if (id === "quit") process.exit(0);
  if (id === "note") showTheNote();
  publish();
}

function answerPanel(action: string): void {
  console.log(`panel action: ${action}`);
  send({ panel: { name: "note", call: "close" } });
}

function answerURL(url: string): void {
  console.log(`opening ${url}`);
  send({ url, result: "opened" });
}

function handle(line: string): void {
  let message: Message;
  try {
    message = JSON.parse(line);
  } catch {
    return;
  }
  if (typeof message.menu === "string") {
    const branch = typeof message.branch === "string" ? ` in ${message.branch}` : "";
    answerPick(message.menu + branch, String(message.title ?? ""));
  }
  else if (typeof message.url === "string") answerURL(message.url);
  else if (typeof message.front === "string") console.log(`front application: ${message.front}`);
  else if (typeof message.act === "string") answerPanel(message.act);
  else if (message.opened === true) {
    opens += 1;
    publish();
  }
}

async function readTheHost(): Promise<void> {
  const decoder = new TextDecoder();
  let pending = "";
  for await (const chunk of Bun.stdin.stream()) {
    pending += decoder.decode(chunk, { stream: true });
    let newline: number;
    while ((newline = pending.indexOf("\n")) >= 0) {
      handle(pending.slice(0, newline));
      pending = pending.slice(newline + 1);
    }
  }
  process.exit(0);  // the host closed our input
}

process.on("SIGUSR1", () => console.log("reopen requested"));
for (const signal of ["SIGTERM", "SIGINT"] as const) {
  process.on(signal, () => {
    console.log(`demo shell ending (${signal})`);
    process.exit(0);
  });
}

console.log(`demo shell ${process.pid} started by host ${process.env[prefix + "LAUNCHER_PID"]}`);
// Tell the host we take reopen requests (it gave us the signal's name).
process.kill(Number(process.env[prefix + "LAUNCHER_PID"]), `SIG${process.env[prefix + "REOPEN_READY_SIGNAL"]}`);
send({ focus: "replies" });
writeRecentFile();
publish();
readTheHost();
