<?php
// SPDX-License-Identifier: GPL-3.0-or-later
// What every script shares: how it answers, how it reads and checks its parameters, where the
// data root is, and the test hook. Answers are short ASCII texts, since the client shows them as
// 8-bit text and tests only their first characters.

declare(strict_types=1);

require_once __DIR__ . '/mailbox_store.php';

// Well above what the client produces (a few thousand digits), and what still fits through
// nginx's single FastCGI parameter record with the rest of the request.
const VELKORANT_MAX_DATACRY = 64000;

function velkorant_begin(bool $changesData): void
{
    ini_set('display_errors', '0');
    // Any warning from a file operation is a failure of the request, never a half-done success.
    set_error_handler(static function (int $severity, string $message, string $file, int $line): bool {
        if ((error_reporting() & $severity) === 0) {
            return false; // silenced with @ where a failure is expected and checked
        }
        throw new ErrorException($message, 0, $severity, $file, $line);
    });
    set_exception_handler(static function (Throwable $e): void {
        error_log('velkorant: ' . $e->getMessage());
        velkorant_answer(500, 'Error interno del servidor');
    });

    $method = $_SERVER['REQUEST_METHOD'] ?? 'GET';
    $allowed = $changesData ? ['GET'] : ['GET', 'HEAD'];
    if (!in_array($method, $allowed, true)) {
        header('Allow: ' . implode(', ', $allowed));
        velkorant_answer(405, 'Error: metodo no permitido');
    }
}

function velkorant_answer(int $status, string $text): never
{
    http_response_code($status);
    header('Content-Type: text/plain; charset=us-ascii');
    header('Cache-Control: no-store');
    header('X-Content-Type-Options: nosniff');
    echo $text;
    exit;
}

// The query's parameters as sent: name => its values, each decoded once. Not $_GET, where PHP
// drops leading spaces from names, cuts them at a NUL, keeps only the last of a repeated name
// and makes "a[]" an array: a request would store what it does not name.
function velkorant_query(): array
{
    $params = [];
    foreach (explode('&', $_SERVER['QUERY_STRING'] ?? '') as $pair) {
        [$name, $value] = explode('=', $pair, 2) + [1 => ''];
        $params[urldecode($name)][] = urldecode($value);
    }
    return $params;
}

// A parameter as the single text it must be: missing, repeated or empty all refuse.
function velkorant_param(string $name): string
{
    $values = velkorant_query()[$name] ?? [];
    if (count($values) !== 1 || $values[0] === '') {
        velkorant_answer(400, "Error: falta el parametro $name");
    }
    return $values[0];
}

function velkorant_folder(): string
{
    $folder = velkorant_param('folder');
    if (preg_match('/^[0-9A-F]{10}$/D', $folder) !== 1) {
        velkorant_answer(400, 'Error: nombre de buzon no valido');
    }
    // Behind nginx, posts and creations are limited per mailbox, and nginx reads the folder
    // parameter otherwise than PHP does: the first one, in any letter case, its name undecoded.
    // A request that names one mailbox to the limit and another to the script is not served.
    $counted = $_SERVER['VELKORANT_COUNTED_FOLDER'] ?? null;
    if ($counted !== null && $counted !== $folder) {
        velkorant_answer(400, 'Error: nombre de buzon no valido');
    }
    return $folder;
}

// A setting of the web server (a FastCGI parameter or an environment variable of the pool).
function velkorant_setting(string $name): string
{
    $value = $_SERVER[$name] ?? getenv($name);
    return is_string($value) ? $value : '';
}

function velkorant_data_root(): string
{
    // Without it the mailboxes live beside the scripts, which is what a plain PHP host offers.
    $root = velkorant_setting('VELKORANT_DATA_ROOT');
    if ($root === '') {
        $root = isset($_SERVER['SCRIPT_FILENAME']) ? dirname($_SERVER['SCRIPT_FILENAME']) : '';
    }
    return rtrim($root, '/');
}

// VELKORANT_DATABASE, a PDO connection string, keeps the mailboxes in PostgreSQL; without it
// they are files under the data root. With $probe (the server check) the store proves it can
// store right now, so that "OK" is never said while the disk is full or the database read-only.
function velkorant_store(bool $probe = false): MailboxStore
{
    $dsn = velkorant_setting('VELKORANT_DATABASE');
    try {
        if ($dsn !== '') {
            require_once __DIR__ . '/database_store.php';
            $store = DatabaseMailboxStore::connect($dsn);
        } else {
            $store = new FileMailboxStore(velkorant_data_root());
            if (!$store->usable()) {
                throw new RuntimeException('the data root ' . velkorant_data_root() . ' is not a writable folder');
            }
        }
        if ($probe) {
            $store->probe();
        }
    } catch (Throwable $e) {
        error_log('velkorant: the store cannot be used: ' . $e->getMessage());
        velkorant_answer(500, 'Error: almacenamiento no disponible');
    }
    return $store;
}

// Tests of the client need answers no correct server gives ("sin", "Si", ...). Only when the
// php-fpm pool sets VELKORANT_TEST_HOOKS=1 (run-local --test-hooks), a file
// <data root>/_test_answers/<script>@<folder> (or <script>, for every request of that script)
// is answered verbatim instead of doing the work.
function velkorant_test_hook(string $script, ?string $folder = null): void
{
    if (getenv('VELKORANT_TEST_HOOKS') !== '1') {
        return;
    }
    $dir = velkorant_data_root() . '/_test_answers/';
    $candidates = $folder === null ? [$script] : ["$script@$folder", $script];
    foreach ($candidates as $name) {
        if (is_file($dir . $name)) {
            velkorant_answer(200, (string) file_get_contents($dir . $name));
        }
    }
}
