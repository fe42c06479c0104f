'use strict';

// Login page: sends the form to the authentication API and reloads on success, after which the
// server answers with the main page of the logged-in session.
(function () {
    var LOGIN_URL = 'api/v1/auth/login';
    var LOGIN_OK = 'Ok.';
    var WRONG_CREDENTIALS = 'Неправильный логин или пароль!';
    var SERVER_UNREACHABLE = 'Не удалось войти, возможно сервер недоступен';

    // Answers are always shown as plain text, never as markup.
    function showError(text) {
        var area = document.getElementById('error_msg');
        area.textContent = text;
        area.hidden = text === '';
    }

    function onAnswer(request) {
        if (request.status === 200 && request.responseText === LOGIN_OK) {
            window.location.reload();
        } else if (request.status >= 200 && request.status < 300) {
            showError(WRONG_CREDENTIALS);
        } else {
            // Refusals such as a ban come with their reason as the body.
            showError(request.responseText || SERVER_UNREACHABLE);
        }
    }

    function submitLogin(event) {
        event.preventDefault();
        var fields = event.target.elements;
        var body = new URLSearchParams();
        body.append('username', fields.username.value);
        body.append('password', fields.password.value);
        fields.password.value = '';
        showError('');

        var request = new XMLHttpRequest();
        request.open('POST', LOGIN_URL);
        request.setRequestHeader('Content-Type',
                                 'application/x-www-form-urlencoded; charset=UTF-8');
        request.onload = function () { onAnswer(request); };
        request.onerror = function () { showError(request.responseText || SERVER_UNREACHABLE); };
        request.send(body.toString());
    }

    document.addEventListener('DOMContentLoaded', function () {
        var form = document.getElementById('loginform');
        form.addEventListener('submit', submitLogin);
        form.elements.username.focus();
    });
})();
