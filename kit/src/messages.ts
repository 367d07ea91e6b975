// Every JSON line exchanged with the host, as exact types. Lines from the host are told apart
// by the keys they carry; readHostMessage() checks a parsed line and tags it with its kind.

export type JsonValue = null | boolean | number | string | JsonValue[] | { [key: string]: JsonValue };
export type JsonObject = { [key: string]: JsonValue };

// ---- From the host to the shell ----

export interface FrontMessage { front: string }
export interface MenuOpenedMessage { opened: true }
export interface SubmenuOpenedMessage { submenuOpened: string }
// "branch" only for a row read from a menu file: the id of the row that declared its submenu.
export interface MenuPickMessage { menu: string; title: string; branch?: string }
export type URLSource = "hotkey" | "display-change";
// "source" is absent for links, files, Services and the control socket.
export interface URLMessage { url: string; source?: URLSource }
export interface SetupQuitMessage { setupQuit: "settings" }
export interface HotKeyStatus { key: string; status: number }
export interface HotKeyStatusesMessage { hotkeys: HotKeyStatus[] }
export type ActivationPolicyCode = 0 | 1 | 2;
export interface RunningApp { bundle: string; name: string; path: string; pid: number; policy: ActivationPolicyCode; active: boolean }
export interface AppsMessage { apps: RunningApp[]; windows: [pid: number, layer: number][] }
export interface ActMessage { act: string }

export type HostMessage =
  | { kind: "front"; message: FrontMessage }
  | { kind: "opened"; message: MenuOpenedMessage }
  | { kind: "submenuOpened"; message: SubmenuOpenedMessage }
  | { kind: "pick"; message: MenuPickMessage }
  | { kind: "url"; message: URLMessage }
  | { kind: "setupQuit"; message: SetupQuitMessage }
  | { kind: "hotkeys"; message: HotKeyStatusesMessage }
  | { kind: "apps"; message: AppsMessage }
  | { kind: "act"; message: ActMessage };
export type HostMessageKind = HostMessage["kind"];
export type MessageOfKind<K extends HostMessageKind> = Extract<HostMessage, { kind: K }>["message"];

// ---- From the shell to the host ----

// A row of the status menu. Every key is optional; a value of another type counts as absent.
export interface ItemRow {
  kind?: undefined;
  id?: string;
  title?: string;
  hidden?: boolean;
  enabled?: boolean;          // false unless true: disabled rows have no action
  submenu?: boolean;          // true: the rows naming this row's id as "parent" fill its submenu
  parent?: string;
  key?: string;               // key equivalent such as "⌘⇧K", "⌥Space", "⌘↩"
  symbol?: string;            // symbol image name
  data?: boolean;
  row?: string;
  submenuFile?: string;       // absolute path of a menu file read each time the submenu opens
  submenuFileBranch?: string[];
  submenuSelectionMark?: string;
  submenuFallback?: FallbackRow[];
}
// The status item's look; also an ordinary (disabled) row of the menu unless hidden.
export interface HeaderRow {
  kind: "header";
  id?: string;
  title?: string;             // the status item's label; the bundle identifier without one
  symbol?: string;
  pointSize?: number;
  weight?: number;
  badge?: string;
  tooltip?: string;
  hidden?: boolean;
  enabled?: boolean;
  parent?: string;
}
export interface SeparatorRow { kind: "separator"; id?: string; parent?: string; hidden?: boolean }
export type MenuRow = ItemRow | HeaderRow | SeparatorRow;
export type FallbackRow = { kind: "info"; title: string } | { kind: "separator" };

// A row of a menu file (the file a "submenuFile" row names).
export type FileMenuRow =
  | { separator: true }
  | {
      id: string;
      title: string;
      enabled?: boolean;      // true unless false
      row?: string;
      data?: boolean;
      key?: string;
      checked?: boolean;
      symbol?: string;
      submenu?: FileMenuRow[];
    };

export interface PanelRequest { name: string; call: "prepare" | "open" | "update" | "close"; look?: string }
export interface HotKeyRow { key: string; url: string; code: number; modifiers: number; options?: number }
export interface BadgeRequest { pid: number; text?: string; ms?: number }

export interface SetupQuitSendersMessage { setupQuitSenders: string[] }
export interface SetupQuitSettledMessage { setupQuit: "settled"; restarting?: boolean }
export interface PanelMessage { panel: PanelRequest }
export interface HotKeysMessage { hotkeys: HotKeyRow[] }
export interface WatchAppsMessage { watch: "apps" }
export interface MenuUnavailableMessage { menuUnavailable: string }
export interface MenuMessage { menu: MenuRow[]; submenuUpdates?: boolean; publication?: JsonObject[] }
export interface MenuBranchMessage { menuBranch: { id: string; rows: MenuRow[] } }
export interface PopUpMessage { popUp: true }
export interface BadgeMessage { badge: BadgeRequest }
export interface FocusRepliesMessage { focus: "replies" }
// A reply to a URL: "result" or "error" (any value) marks it. "focus": "panel" keeps the focus
// for a panel of process "panel".
export type URLReplyMessage = { url: string; focus?: "panel"; panel?: number } & (
  | { result: JsonValue; error?: JsonValue }
  | { error: JsonValue; result?: JsonValue }
);

export type ShellMessage =
  | SetupQuitSendersMessage
  | SetupQuitSettledMessage
  | PanelMessage
  | HotKeysMessage
  | WatchAppsMessage
  | MenuUnavailableMessage
  | MenuMessage
  | MenuBranchMessage
  | PopUpMessage
  | BadgeMessage
  | FocusRepliesMessage
  | URLReplyMessage;

// ---- Reading the host's lines ----

function isObject(value: unknown): value is { [key: string]: unknown } {
  return typeof value === "object" && value !== null && !Array.isArray(value);
}

function isString(value: unknown): value is string {
  return typeof value === "string";
}

function isInteger(value: unknown): value is number {
  return typeof value === "number" && Number.isInteger(value);
}

function isHotKeyStatus(value: unknown): value is HotKeyStatus {
  return isObject(value) && isString(value.key) && isInteger(value.status);
}

function isRunningApp(value: unknown): value is RunningApp {
  return (
    isObject(value) && isString(value.bundle) && isString(value.name) && isString(value.path) &&
    isInteger(value.pid) && (value.policy === 0 || value.policy === 1 || value.policy === 2) &&
    typeof value.active === "boolean"
  );
}

function isWindowPair(value: unknown): value is [number, number] {
  return Array.isArray(value) && value.length === 2 && isInteger(value[0]) && isInteger(value[1]);
}

function isURLSource(value: unknown): value is URLSource {
  return value === "hotkey" || value === "display-change";
}

// The host's line as a tagged message; undefined for anything the host does not send.
export function readHostMessage(value: unknown): HostMessage | undefined {
  if (!isObject(value)) return undefined;
  if (isString(value.menu) && isString(value.title)) {
    const pick: MenuPickMessage = { menu: value.menu, title: value.title };
    if (isString(value.branch)) pick.branch = value.branch;
    return { kind: "pick", message: pick };
  }
  if (isString(value.url)) {
    const url: URLMessage = { url: value.url };
    if (isURLSource(value.source)) url.source = value.source;
    return { kind: "url", message: url };
  }
  if (isString(value.front)) return { kind: "front", message: { front: value.front } };
  if (value.opened === true) return { kind: "opened", message: { opened: true } };
  if (isString(value.submenuOpened)) return { kind: "submenuOpened", message: { submenuOpened: value.submenuOpened } };
  if (value.setupQuit === "settings") return { kind: "setupQuit", message: { setupQuit: "settings" } };
  if (Array.isArray(value.hotkeys) && value.hotkeys.every(isHotKeyStatus))
    return { kind: "hotkeys", message: { hotkeys: value.hotkeys } };
  if (Array.isArray(value.apps) && value.apps.every(isRunningApp) && Array.isArray(value.windows) &&
      value.windows.every(isWindowPair))
    return { kind: "apps", message: { apps: value.apps, windows: value.windows } };
  if (isString(value.act)) return { kind: "act", message: { act: value.act } };
  return undefined;
}

// One line of the host's output; undefined when it is not JSON or not a message.
export function parseHostLine(line: string): HostMessage | undefined {
  try {
    return readHostMessage(JSON.parse(line));
  } catch {
    return undefined;
  }
}
