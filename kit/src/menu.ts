// Builders for the status menu's rows. The host wants one flat list in which a submenu's rows
// name their submenu row as "parent"; submenu() writes that for you.

import type { FallbackRow, HeaderRow, ItemRow, MenuMessage, MenuRow, SeparatorRow } from "./messages.ts";

export type HeaderOptions = Omit<HeaderRow, "kind">;
export type ItemOptions = Omit<ItemRow, "kind" | "id" | "title" | "submenu" | "submenuFile">;

export function header(options: HeaderOptions = {}): HeaderRow {
  return { kind: "header", ...options };
}

export function separator(): SeparatorRow {
  return { kind: "separator" };
}

// An enabled row unless `enabled: false` is given.
export function item(id: string, title: string, options: ItemOptions = {}): ItemRow {
  return { id, title, enabled: true, ...options };
}

// A row that only shows text.
export function label(id: string, title: string, options: ItemOptions = {}): ItemRow {
  return item(id, title, { ...options, enabled: false });
}

type Rows = MenuRow | Rows[];

function flat(rows: Rows[]): MenuRow[] {
  const out: MenuRow[] = [];
  for (const row of rows) {
    if (Array.isArray(row)) out.push(...flat(row));
    else out.push(row);
  }
  return out;
}

// The submenu row followed by its rows; rows that name no parent are placed in it. Nested
// submenus keep their own parents.
export function submenu(id: string, title: string, rows: Rows[], options: ItemOptions = {}): MenuRow[] {
  const children = flat(rows).map((row): MenuRow => (row.parent === undefined ? { ...row, parent: id } : row));
  return [{ id, title, enabled: true, ...options, submenu: true }, ...children];
}

export interface FileSubmenuOptions extends ItemOptions {
  branch?: string[];
  selectionMark?: string;
  fallback?: FallbackRow[];
}

// A submenu filled from a menu file each time it opens; `file` must be an absolute path.
export function fileSubmenu(id: string, title: string, file: string, options: FileSubmenuOptions = {}): ItemRow {
  const { branch, selectionMark, fallback, ...rest } = options;
  const row: ItemRow = { id, title, enabled: true, ...rest, submenu: true, submenuFile: file };
  if (branch !== undefined) row.submenuFileBranch = branch;
  if (selectionMark !== undefined) row.submenuSelectionMark = selectionMark;
  if (fallback !== undefined) row.submenuFallback = fallback;
  return row;
}

// The row the host owns: a pick toggles the Dock icon. It only works inside a submenu.
export function showInDock(title = "Show in Dock"): ItemRow {
  return item("host.show-in-dock", title);
}

export interface MenuOptions { submenuUpdates?: boolean }

// The whole menu as one message; nested lists are flattened in order.
export function menuMessage(rows: Rows[], options: MenuOptions = {}): MenuMessage {
  const message: MenuMessage = { menu: flat(rows) };
  if (options.submenuUpdates !== undefined) message.submenuUpdates = options.submenuUpdates;
  return message;
}
