// A shell's side of the host: typed handlers for what the host says, typed senders for what
// the shell says, and the reopen handshake.

import { type LineWriter, readLines, sendTo } from "./channel.ts";
import { type Environment, type HostEnvironment, hostEnvironment } from "./environment.ts";
import { menuMessage, type MenuOptions } from "./menu.ts";
import {
  type ActMessage,
  type AppsMessage,
  type BadgeRequest,
  type FrontMessage,
  type HostMessage,
  type HostMessageKind,
  type HotKeyRow,
  type HotKeyStatusesMessage,
  type JsonValue,
  type MenuPickMessage,
  type MenuRow,
  type MessageOfKind,
  parseHostLine,
  type PanelRequest,
  type SetupQuitMessage,
  type ShellMessage,
  type SubmenuOpenedMessage,
  type URLMessage,
} from "./messages.ts";

type Handler<K extends HostMessageKind> = (message: MessageOfKind<K>) => void;
type Handlers = { [K in HostMessageKind]: Handler<K>[] };

export interface ShellOptions {
  unit?: string;                                   // names the environment's prefix; found when absent
  input?: AsyncIterable<Uint8Array | string>;      // the host's lines; standard input by default
  output?: LineWriter;                             // where messages go; standard output by default
  env?: Environment;
  exitWhenTheHostLeaves?: boolean;                 // exit(0) when the input ends; true by default
}

export interface URLReplyOptions { focus?: "panel"; panel?: number }

export class Shell {
  readonly host: HostEnvironment | undefined;
  private readonly handlers: Handlers = {
    front: [], opened: [], submenuOpened: [], pick: [], url: [], setupQuit: [], hotkeys: [], apps: [], act: [],
  };
  private readonly otherLines: ((line: string) => void)[] = [];
  private readonly endings: (() => void)[] = [];
  private readonly input: AsyncIterable<Uint8Array | string>;
  private readonly output: LineWriter;
  private readonly exitWhenTheHostLeaves: boolean;
  private announcedReopen = false;

  constructor(options: ShellOptions = {}) {
    const env = options.env ?? process.env;
    this.host = hostEnvironment(env, options.unit !== undefined ? { unit: options.unit } : { parentPid: process.ppid });
    this.input = options.input ?? process.stdin;
    this.output = options.output ?? process.stdout;
    this.exitWhenTheHostLeaves = options.exitWhenTheHostLeaves ?? true;
  }

  // ---- What the host says ----

  on<K extends HostMessageKind>(kind: K, handler: Handler<K>): this {
    this.handlers[kind].push(handler);
    return this;
  }
  onPick(handler: (pick: MenuPickMessage) => void): this { return this.on("pick", handler); }
  onURL(handler: (url: URLMessage) => void): this { return this.on("url", handler); }
  onFront(handler: (front: FrontMessage) => void): this { return this.on("front", handler); }
  onMenuOpened(handler: () => void): this { return this.on("opened", () => handler()); }
  onSubmenuOpened(handler: (opened: SubmenuOpenedMessage) => void): this { return this.on("submenuOpened", handler); }
  onHotKeys(handler: (statuses: HotKeyStatusesMessage) => void): this { return this.on("hotkeys", handler); }
  onApps(handler: (apps: AppsMessage) => void): this { return this.on("apps", handler); }
  onAct(handler: (act: ActMessage) => void): this { return this.on("act", handler); }
  onSetupQuit(handler: (request: SetupQuitMessage) => void): this { return this.on("setupQuit", handler); }
  // Lines from the host that are not messages (there should be none).
  onOtherLine(handler: (line: string) => void): this {
    this.otherLines.push(handler);
    return this;
  }
  // The host closed the shell's input: it is going away.
  onEnd(handler: () => void): this {
    this.endings.push(handler);
    return this;
  }

  // Installs the SIGUSR1 handler, then tells the host (once) that reopen requests may come:
  // the host holds them back until it hears that.
  onReopen(handler: () => void): this {
    process.on("SIGUSR1", handler);
    this.announceReopen();
    return this;
  }

  announceReopen(): void {
    if (this.announcedReopen || this.host === undefined) return;
    this.announcedReopen = true;
    process.kill(this.host.launcherPid, `SIG${this.host.reopenReadySignal}`);
  }

  // Handles one line from the host; a handler that throws is reported and the rest go on.
  handleLine(line: string): void {
    const received = parseHostLine(line);
    if (received === undefined) {
      for (const handler of this.otherLines) handler(line);
      return;
    }
    this.deliver(received);
  }

  // Reads the host's lines until the input ends.
  async start(): Promise<void> {
    await readLines(this.input, (line) => this.handleLine(line));
    for (const ending of this.endings) ending();
    if (this.exitWhenTheHostLeaves) process.exit(0);
  }

  // ---- What the shell says ----

  send(message: ShellMessage): void {
    sendTo(this.output, message);
  }
  drawMenu(rows: Parameters<typeof menuMessage>[0], options: MenuOptions = {}): void {
    this.send(menuMessage(rows, options));
  }
  updateBranch(id: string, rows: MenuRow[]): void {
    this.send({ menuBranch: { id, rows } });
  }
  menuUnavailable(reason: string): void {
    this.send({ menuUnavailable: reason });
  }
  popUp(): void {
    this.send({ popUp: true });
  }
  // From now on the host gives the focus back after a link only once the shell replied.
  announceReplies(): void {
    this.send({ focus: "replies" });
  }
  replyToURL(url: string, result: JsonValue, options: URLReplyOptions = {}): void {
    this.send({ url, result, ...options });
  }
  failURL(url: string, error: JsonValue, options: URLReplyOptions = {}): void {
    this.send({ url, error, ...options });
  }
  badge(request: BadgeRequest): void {
    this.send({ badge: request });
  }
  watchApps(): void {
    this.send({ watch: "apps" });
  }
  panel(request: PanelRequest): void {
    this.send({ panel: request });
  }
  publishHotKeys(rows: HotKeyRow[]): void {
    this.send({ hotkeys: rows });
  }
  setupQuitSenders(bundleIdentifiers: string[]): void {
    this.send({ setupQuitSenders: bundleIdentifiers });
  }
  settleSetupQuit(restarting: boolean): void {
    this.send({ setupQuit: "settled", restarting });
  }

  private deliver(received: HostMessage): void {
    switch (received.kind) {
      case "front": return this.call("front", received.message);
      case "opened": return this.call("opened", received.message);
      case "submenuOpened": return this.call("submenuOpened", received.message);
      case "pick": return this.call("pick", received.message);
      case "url": return this.call("url", received.message);
      case "setupQuit": return this.call("setupQuit", received.message);
      case "hotkeys": return this.call("hotkeys", received.message);
      case "apps": return this.call("apps", received.message);
      case "act": return this.call("act", received.message);
    }
  }

  private call<K extends HostMessageKind>(kind: K, message: MessageOfKind<K>): void {
    const list: Handler<K>[] = this.handlers[kind];
    for (const handler of list) {
      try {
        handler(message);
      } catch (error) {
        process.stderr.write(`shell handler for ${kind} failed: ${String(error)}\n`);
      }
    }
  }
}
